// Path, version and text helpers shared across the program. Texts are 8-bit
// in the system code page; positions are 1-based where a caller sees them,
// and upper-casing is the code page's (ICodePage::CharUpperA).
#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

// Program location.
std::string GetExePath();       // the main module's path (260-byte buffer)
std::string GetCurrentDir();    // no trailing "\\" except for a drive root
std::string GetExeFileName();   // after the last "\\" of GetExePath()
std::string GetExeBaseName();   // GetExeFileName() without its last extension
std::string GetRunEntryName();  // GetExeFileName() up to its first "."; empty without one

// Version resource: the fixed information's MS and LS words.
bool GetFileVersion(const std::string& path, std::uint32_t* versionMs, std::uint32_t* versionLs);
// "1.0.3" for 1.0.3.0 and "1.0.3.7" for 1.0.3.7; empty without a version.
std::string GetFileVersionText(const std::string& path);

// Case-insensitive searches; the results are cut from the unchanged text.
std::string UpperCase(const std::string& text);
std::string TextBefore(const std::string& text, const std::string& delimiter, const std::string& fallback);
std::string TextAfter(const std::string& text, const std::string& delimiter, const std::string& fallback);
// Replaces the first case-insensitive occurrence of `from`, but only when
// the text holds `from` exactly (case-sensitively).
std::string ReplaceFirst(const std::string& text, const std::string& from, const std::string& to);
// ReplaceFirst until a pass changes nothing. A replacement that contains the
// searched text would never settle; the passes are bounded so that such a
// call ends.
std::string ReplaceText(const std::string& text, const std::string& from, const std::string& to);
// The text after the last character that is one of `delimiters` (single-
// byte characters).
std::string TextAfterLast(const std::string& text, const std::string& delimiters, const std::string& fallback);

// The 0-based position of the last character c of text, or npos. Texts are
// walked by characters: in a code page with two-byte characters, a second
// byte that equals c (0x5C, "\\", is a common one) is no match.
std::size_t FindLastCharacter(const std::string& text, char c);

// A name that comes from outside (a downloaded file's name, a folder or file
// name of an archive member) names a file in its folder and nothing else.
// One part of a path, refused when it
// - is empty, or ends in "." or " ": the system drops trailing dots and
//   blanks, so the file would get another name ("." and ".." end in one);
// - holds "\\", "/" or ":" (a folder, a drive or a stream), or a control
//   character (below 0x20, and 0x7F);
// - is a device name in any case, alone or before an extension or blanks:
//   CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0 to COM9, LPT0 to LPT9, and
//   COM and LPT with the superscript digits U+00B9, U+00B2, U+00B3 ("nul.txt",
//   "COM1 .log" and "lpt\u00B2" are devices; "CONFIG.SYS" and "COM10" are not).
// The other characters that Windows refuses in names ("<", ">", "\"", "|",
// "?", "*") are left to it: opening such a name fails and touches nothing.
bool IsSafeFileName(const std::u16string& name);
// The same rule for an 8-bit name, read in the ANSI code page as the system
// reads it when the name is opened; a name the code page cannot carry is
// refused.
bool IsSafeFileName(const std::string& name);

// "0x" and eight upper-case hexadecimal digits.
std::string HexText(std::uint32_t value);
void Delay(std::uint32_t milliseconds);

}  // namespace kestrune
