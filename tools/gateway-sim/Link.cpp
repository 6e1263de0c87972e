#include "Link.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace gwsim {
namespace {

constexpr int kMaxLinkNumber = 999;

[[noreturn]] void ThrowLinkError(int error, const std::string& path) {
  throw std::system_error(error, std::generic_category(), "cannot create the link " + path);
}

}  // namespace

PublishedLink::PublishedLink(std::string path, std::string target)
    : path_(std::move(path)), target_(std::move(target)) {}

PublishedLink::PublishedLink(PublishedLink&& other) noexcept
    : path_(std::exchange(other.path_, {})), target_(std::exchange(other.target_, {})) {}

PublishedLink& PublishedLink::operator=(PublishedLink&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, {});
    target_ = std::exchange(other.target_, {});
  }
  return *this;
}

PublishedLink::~PublishedLink() { Remove(); }

PublishedLink PublishedLink::AtPath(const std::string& path, const std::string& target) {
  if (symlink(target.c_str(), path.c_str()) != 0) ThrowLinkError(errno, path);
  return PublishedLink(path, target);
}

PublishedLink PublishedLink::FirstFree(const std::string& folder, const std::string& stem,
                                       const std::string& target) {
  for (int n = 0; n <= kMaxLinkNumber; ++n) {
    std::string path = folder + "/" + stem + std::to_string(n);
    if (symlink(target.c_str(), path.c_str()) == 0) return PublishedLink(path, target);
    if (errno != EEXIST) ThrowLinkError(errno, path);
  }
  ThrowLinkError(EEXIST, folder + "/" + stem + "<0-" + std::to_string(kMaxLinkNumber) + ">");
}

// Only a link that still leads to our terminal is ours to remove: someone
// may have replaced it meanwhile.
void PublishedLink::Remove() {
  if (path_.empty()) return;
  std::string current(target_.size() + 1, '\0');
  ssize_t length = readlink(path_.c_str(), current.data(), current.size());
  if (length == static_cast<ssize_t>(target_.size()) && current.compare(0, length, target_) == 0) {
    unlink(path_.c_str());
  }
  path_.clear();
  target_.clear();
}

}  // namespace gwsim
