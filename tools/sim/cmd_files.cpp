// The card's project files: listing, check, open, close, delete and which one is open.
#include <algorithm>
#include <cctype>

#include "tools/sim/Firmware.h"

namespace nurva::sim {

namespace {

constexpr int kListEntries = 15;
// The card check before a listing: ready to list, or not.
constexpr uint8_t kCardReady = 4;
constexpr uint8_t kCardNotReady = 0;

bool CardWorks(const Exchange& ex) { return ex.st.CardUsable() && !ex.st.faults.cardRefuse; }

// The card's file of `name` (any case), unless the card cannot find files.
std::optional<std::string> Lookup(Exchange& ex, const std::string& name) {
  if (!ex.st.CardUsable() || ex.st.faults.fileMissing) return std::nullopt;
  return ex.card.Find(name);
}

// `name` matches `pattern` with '*' (any run) and '?' (one character), ignoring case;
// "*.*" matches every name, as on the card's file system.
bool Matches(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool IsOpen(const Exchange& ex, const std::string& name) {
  if (!ex.st.openName) return false;
  return std::equal(name.begin(), name.end(), ex.st.openName->begin(), ex.st.openName->end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  });
}

// 'C': whether the card can list its files.
void CardCheck(Exchange& ex) { ex.Reply(CardWorks(ex) ? kCardReady : kCardNotReady); }

// 'l' pattern: 15 entries, each a name (empty once the matching files run out) and ACK.
void List(Exchange& ex) {
  auto pattern = ex.ArgString();
  if (!pattern) return;
  std::vector<std::string> names;
  if (CardWorks(ex) && !ex.st.faults.fileMissing)
    for (const auto& n : ex.card.List())
      if (Matches(*pattern, n)) names.push_back(n);
  ex.Note(std::to_string(names.size()) + " file(s) match '" + *pattern + "'");
  for (int i = 0; i < kListEntries; ++i) {
    ex.ReplyString(i < static_cast<int>(names.size()) ? names[static_cast<size_t>(i)] : std::string());
    ex.Reply(kAck);
  }
}

// A file the host named, and what it holds as a project.
struct NamedFile {
  std::string name;                // the card's name of the file
  std::optional<Project> project;  // none when it is unreadable or no project
  std::string err;                 // why it is no project, when the parser said
};

// Takes the name argument and answers whether the card has the file: NAK and nothing
// when it has not, else ACK and the file read as a project.
std::optional<NamedFile> FindNamedFile(Exchange& ex) {
  auto name = ex.ArgString();
  if (!name) return std::nullopt;
  auto found = Lookup(ex, *name);
  if (!found) {
    ex.Note("no file " + *name);
    ex.Reply(kNak);
    return std::nullopt;
  }
  ex.Reply(kAck);
  NamedFile f{*found, std::nullopt, {}};
  if (auto data = ex.card.Read(*found)) f.project = Project::Parse(*data, &f.err);
  return f;
}

// 'c' name: NAK when the card has no such file; else ACK, then ACK for a whole, valid
// project or NAK for anything else.
void CheckFile(Exchange& ex) {
  auto f = FindNamedFile(ex);
  if (!f) return;
  if (!f->project) ex.Note(f->name + ": " + (f->err.empty() ? "unreadable" : f->err));
  ex.Reply(f->project ? kAck : kNak);
}

// 'Q' 'O' name: found (ACK or NAK), a valid project (ACK or NAK), loaded (ACK), then the
// target's state against it. The project stays open whatever
// the target's state.
void OpenFile(Exchange& ex) {
  auto f = FindNamedFile(ex);
  if (!f) return;
  if (!f->project) {
    ex.Note(f->name + " is not a project: " + f->err);
    ex.Reply(kNak);
    return;
  }
  ex.Reply(kAck);
  ex.Reply(kAck);  // loaded
  const uint8_t target = CheckTarget(ex.st.target, f->project->signature);
  ex.st.openName = f->name;
  ex.st.open = std::move(*f->project);
  ex.Note("project " + f->name + " open");
  ex.Reply(target);
}

// 'Q' 'C': the open project is closed (if any); ACK.
void CloseFile(Exchange& ex) {
  if (ex.st.openName) ex.Note("project " + *ex.st.openName + " closed");
  ex.st.open.reset();
  ex.st.openName.reset();
  ex.Reply(kAck);
}

// 'e' name: ACK when the file is gone; NAK when there is none, the card refuses, or it
// is the open project.
void DeleteFile(Exchange& ex) {
  auto name = ex.ArgString();
  if (!name) return;
  auto found = Lookup(ex, *name);
  if (!found || !CardWorks(ex)) {
    ex.Reply(kNak);
    return;
  }
  if (IsOpen(ex, *found)) {
    ex.Note(*found + " is open: not deleted");
    ex.Reply(kNak);
    return;
  }
  const bool ok = ex.card.Remove(*found);
  ex.Note(ok ? *found + " deleted" : "cannot delete " + *found);
  ex.Reply(ok ? kAck : kNak);
}

// 'Q' 's': ACK while a project is open, NAK when none is.
void FileOpen(Exchange& ex) { ex.Reply(ex.st.open ? kAck : kNak); }

// 'Q' 'N': ACK, ACK and the open project's name; NAK, NAK when none is open.
void OpenName(Exchange& ex) {
  if (!ex.st.open || !ex.st.openName) {
    ex.Reply(kNak);
    ex.Reply(kNak);
    return;
  }
  ex.Reply(kAck);
  ex.Reply(kAck);
  ex.ReplyString(*ex.st.openName);
}

}  // namespace

void AddFileCommands(CommandSet& set) {
  set.Add(TCmdTyp::TESKcmd, 'C', "card check for a listing", CardCheck);
  set.Add(TCmdTyp::TESKcmd, 'l', "list files", List);
  set.Add(TCmdTyp::TESKcmd, 'c', "check file", CheckFile);
  set.Add(TCmdTyp::TESKcmd, 'e', "delete file", DeleteFile);
  set.AddQ('O', "open project", OpenFile);
  set.AddQ('C', "close project", CloseFile);
  set.AddQ('s', "project open?", FileOpen);
  set.AddQ('N', "open project's name", OpenName);
}

}  // namespace nurva::sim
