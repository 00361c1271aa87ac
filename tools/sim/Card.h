// The programmer's flashcard: project files kept as real files in one directory, so what
// is stored survives a restart of the simulator.
//
// Every write goes to a hidden temporary file in the same directory and is renamed over
// the final name only once it is complete and flushed: a file under its own name is
// always whole. Temporaries left by a crash are removed when the card is mounted and are
// never listed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nurva::sim {

class Card {
 public:
  // Creates the directory when needed and removes stale temporaries.
  explicit Card(std::filesystem::path dir);

  const std::filesystem::path& Dir() const { return dir_; }
  // False when the directory could not be made; Error() tells why.
  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }

  // Names that a file on the card may have: 1 to 64 characters, none of '/', '\\',
  // NUL or control characters, not starting with '.'.
  static bool ValidName(std::string_view name);

  // File names, sorted case-insensitively.
  std::vector<std::string> List() const;
  // The stored name that matches `name` ignoring ASCII case (the card's file system is
  // not case-sensitive).
  std::optional<std::string> Find(std::string_view name) const;
  std::optional<std::vector<uint8_t>> Read(std::string_view name) const;
  // Stores `data` under `name` in one step, replacing a file of that name (in any case).
  bool Write(std::string_view name, std::span<const uint8_t> data, std::string* err = nullptr);
  bool Remove(std::string_view name);

  // A file being written piece by piece (a download). It appears under its name only
  // when Commit succeeds; dropped without Commit, it leaves nothing behind.
  class Writer {
   public:
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    bool Append(std::span<const uint8_t> data);
    bool Commit(std::string* err = nullptr);
    uint64_t Size() const { return size_; }
    const std::string& Name() const { return name_; }

   private:
    friend class Card;
    Writer(Card& card, std::string name, std::filesystem::path temp, int fd);
    void Discard();
    Card& card_;
    std::string name_;
    std::filesystem::path temp_;
    int fd_;
    uint64_t size_ = 0;
    bool failed_ = false;
  };
  std::unique_ptr<Writer> Create(std::string_view name, std::string* err = nullptr);

 private:
  static bool IsTemp(const std::string& fileName);
  bool Install(const std::filesystem::path& temp, const std::string& name, std::string* err);

  std::filesystem::path dir_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace nurva::sim
