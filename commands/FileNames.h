// Name rules of the project file commands: trimming, the PC file's extension, which
// extensions the card takes, and the short name a download gets on the card.
#pragma once

#include <string>
#include <string_view>

namespace nurva {

// `s` without leading and trailing spaces and control characters (every byte up to 0x20).
std::string TrimName(std::string_view s);

// The extension of a PC path: from the last full stop after the last separator ('\\',
// ':' or '/') on, ASCII letters capitalised, at most 64 characters; empty without one.
std::string PcExtension(std::string_view path);

// ".PACK", ".PAC", or anything that begins with ".EN" or ".PK" (on the capitalised
// extension).
bool IsDownloadExtension(std::string_view upperExt);

// The name a downloaded file gets on the card: the PC file name without directories,
// extension and spaces, at most 8 characters, then `upperExt`; at most 64 characters.
std::string CardFileName(std::string_view path, std::string_view upperExt);

}  // namespace nurva
