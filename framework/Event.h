// Event handlers: a handler is a pair of code and object, like a bound
// method pointer. One nullable, copyable type per signature (TEvent<void(...)>).
//
// "Same code" compares only the method; "same code and object" (operator==)
// compares both. The code identity is the pointer-to-member itself plus its
// class, never the address of a generated thunk that the linker could fold
// with another one.
#pragma once

#include <QObject>

#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>

using TObject = QObject;

// Identity of a handler's code.
class TMethodCode {
 public:
  TMethodCode() = default;

  template <class M, class Sig>
  static TMethodCode FromMember(Sig M::*method) {
    using Ptr = Sig M::*;
    static_assert(sizeof(Ptr) <= kMaxSize, "member pointer too large");
    TMethodCode c;
    c.type_ = &typeid(M);
    c.size_ = sizeof(Ptr);
    std::memcpy(c.bytes_.data(), &method, sizeof(Ptr));
    return c;
  }

  // A code that equals only its own copies (for handlers made from a
  // function object).
  static TMethodCode Unique() {
    static std::atomic<unsigned long long> next{1};
    TMethodCode c;
    c.type_ = &typeid(TMethodCode);
    c.size_ = sizeof(unsigned long long);
    const unsigned long long id = next.fetch_add(1, std::memory_order_relaxed);
    std::memcpy(c.bytes_.data(), &id, sizeof id);
    return c;
  }

  template <class M, class Sig>
  Sig M::*ToMember() const {
    using Ptr = Sig M::*;
    Ptr method{};
    std::memcpy(&method, bytes_.data(), sizeof(Ptr));
    return method;
  }

  bool IsNull() const { return type_ == nullptr; }
  const std::type_info* Type() const { return type_; }

  friend bool operator==(const TMethodCode& a, const TMethodCode& b) {
    if (a.type_ == nullptr || b.type_ == nullptr) return a.type_ == b.type_;
    return std::type_index(*a.type_) == std::type_index(*b.type_) && a.size_ == b.size_ &&
           std::memcmp(a.bytes_.data(), b.bytes_.data(), a.size_) == 0;
  }

 private:
  static constexpr std::size_t kMaxSize = 2 * sizeof(void*);
  const std::type_info* type_ = nullptr;
  std::size_t size_ = 0;
  std::array<unsigned char, kMaxSize> bytes_{};
};

template <class Sig>
class TEvent;

template <class... Args>
class TEvent<void(Args...)> {
 public:
  TEvent() = default;
  TEvent(std::nullptr_t) {}  // NOLINT: "no handler", as in Handler = nullptr

  // Binds a method of M to an object of class C (C is M or derives from it).
  template <class C, class M>
    requires std::is_base_of_v<M, C>
  TEvent(C* object, void (M::*method)(Args...)) {
    if (object == nullptr || method == nullptr) return;
    object_ = static_cast<M*>(object);
    identity_ = object;
    code_ = TMethodCode::FromMember(method);
    invoke_ = [](void* obj, const TMethodCode& code, const std::shared_ptr<void>&, Args... args) {
      auto m = code.template ToMember<M, void(Args...)>();
      (static_cast<M*>(obj)->*m)(std::forward<Args>(args)...);
    };
  }

  // A handler made from a function object, bound to 'object' (may be null).
  // Its code equals only its own copies.
  template <class F>
    requires std::is_invocable_v<F&, Args...>
  static TEvent Bind(F function, const void* object = nullptr) {
    TEvent e;
    e.fn_ = std::make_shared<std::function<void(Args...)>>(std::move(function));
    e.identity_ = object;
    e.code_ = TMethodCode::Unique();
    e.invoke_ = [](void*, const TMethodCode&, const std::shared_ptr<void>& fn, Args... args) {
      (*std::static_pointer_cast<std::function<void(Args...)>>(fn))(std::forward<Args>(args)...);
    };
    return e;
  }

  bool Assigned() const { return invoke_ != nullptr; }
  explicit operator bool() const { return Assigned(); }

  // Calls the handler; an unassigned handler is never called.
  void operator()(Args... args) const {
    if (invoke_) invoke_(object_, code_, fn_, std::forward<Args>(args)...);
  }

  const TMethodCode& Code() const { return code_; }
  // The object the handler is bound to (its "Data" half).
  const void* Data() const { return identity_; }

  bool SameCode(const TEvent& other) const { return code_ == other.code_; }
  friend bool operator==(const TEvent& a, const TEvent& b) {
    return a.code_ == b.code_ && a.identity_ == b.identity_;
  }

 private:
  using Invoker = void (*)(void*, const TMethodCode&, const std::shared_ptr<void>&, Args...);
  void* object_ = nullptr;          // the object, adjusted to the method's class
  const void* identity_ = nullptr;  // the object as bound, for comparisons
  TMethodCode code_;
  Invoker invoke_ = nullptr;
  std::shared_ptr<void> fn_;
};

using TNotifyEvent = TEvent<void(TObject* Sender)>;

Q_DECLARE_METATYPE(TNotifyEvent)
