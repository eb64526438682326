// The prerequisite-check configuration file (vroreqcheck.cfg and its copies): UTF-8 text whose
// frame is checked on load (three header lines, the system and prerequisites sections, the
// closing CRC line) and which is saved with a fresh CRC line at its end.
#pragma once
#include <optional>

#include "tessera/Files/VrTextFile.h"

class VrConfigFile : public VrTextFile {
 public:
  explicit VrConfigFile(const WChar* path);

  void Free(bool all) override;
  HRESULT LoadFile(VrReadStream& stream) override;
  HRESULT LoadFile() override;
  // Stores the content (keeping the previous file as backup) and writes the CRC line behind it.
  HRESULT SaveFile() override;
  // Stores the content unchanged (it already ends with its CRC line).
  HRESULT ReSaveFile();

  // What a line of a loaded file is, by the rules of the load, so that the code that edits the
  // file sees the same frame the load checked: the "VER" and "UPDATES:" lines are the header
  // lines the load found; section lines, tag lines and the CRC line are known by their first
  // tokens, compared without regard to case.
  enum class LineKind {
    Other,
    Version,               // the header's "VER" line
    Updates,               // the header's "UPDATES:" line
    PrerequisitesSection,  // "[PREREQUISITES_SECTION]"
    SystemSection,         // "[SYSTEM_SECTION]"
    PrerequisitesTag,      // "[PREREQUISITES] <name>"
    InformationTag,        // "[INFORMATION] ..."
    SystemTag,             // "[SYSTEM] <name>"
    Crc,                   // "CONFIG FILE CRC: <hex>"
  };
  LineKind Classify(const VrTextLine& line) const;
  // The kind a line has by its tokens alone (never Version or Updates): for texts that are not
  // a loaded file, such as a tag text that is to become a block of one.
  static LineKind ClassifyTokens(const VrTextLine& line);

  // True for a line that ends a block, whichever section the block is in: a tag line of any
  // kind, a section line or the CRC line. Blocks never run into the other section, whichever
  // order the two sections have.
  static bool IsEndOfBlock(const VrTextLine& line);
  // The end of a system block and of a requirements block: both are IsEndOfBlock.
  bool IsEndOfSystem(const VrTextLine& line) const { return IsEndOfBlock(line); }
  bool IsEndOfRequirements(const VrTextLine& line) const { return IsEndOfBlock(line); }

  // The version test of the "VER" line: letters, digits, '.', '-', and '*' standing for a
  // whole part (at the start or behind '.' or '-', and followed by the end, '.' or '-').
  static bool IsVersion(WStringView text);

  const WString& GetVersion() const { return version_; }
  const WString& GetUpdates() const { return updates_; }
  // The value of the CRC line as loaded, 8 upper-case hexadecimal digits.
  const WString& GetCrcText() const { return crcText_; }
  const std::optional<VrTextPosition>& GetPrerequisitesSectionPosition() const { return prerequisitesSection_; }
  const std::optional<VrTextPosition>& GetSystemSectionPosition() const { return systemSection_; }
  const std::optional<VrTextPosition>& GetVersionLinePosition() const { return versionLine_; }
  const std::optional<VrTextPosition>& GetUpdatesLinePosition() const { return updatesLine_; }
  // The user message of the last load's failure (message 3056 for a malformed CRC line), or empty.
  const WString& GetErrorText() const { return errorText_; }

 private:
  HRESULT CheckFrame();

  WString version_;
  WString updates_;
  WString crcText_;
  std::optional<VrTextPosition> prerequisitesSection_;
  std::optional<VrTextPosition> systemSection_;
  std::optional<VrTextPosition> versionLine_;
  std::optional<VrTextPosition> updatesLine_;
  WString errorText_;
};
