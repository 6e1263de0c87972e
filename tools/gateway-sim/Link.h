// A symbolic link that publishes the simulator's terminal under a stable
// name, removed again when the simulator ends.
#pragma once

#include <string>

namespace gwsim {

class PublishedLink {
 public:
  PublishedLink() = default;
  PublishedLink(const PublishedLink&) = delete;
  PublishedLink& operator=(const PublishedLink&) = delete;
  PublishedLink(PublishedLink&& other) noexcept;
  PublishedLink& operator=(PublishedLink&& other) noexcept;
  ~PublishedLink();  // removes the link if it still leads to its target

  // A link at `path`; throws std::system_error (with the path in its text)
  // when it cannot be made, also when the path exists.
  static PublishedLink AtPath(const std::string& path, const std::string& target);

  // A link named <stem><n> in `folder` with the first n that is free. Names
  // taken meanwhile by another process are skipped (the link is made
  // atomically), so two simulators never share one.
  static PublishedLink FirstFree(const std::string& folder, const std::string& stem,
                                 const std::string& target);

  const std::string& Path() const { return path_; }

  void Remove();

 private:
  PublishedLink(std::string path, std::string target);

  std::string path_;
  std::string target_;
};

}  // namespace gwsim
