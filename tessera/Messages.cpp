#include "tessera/Messages.h"

#include <algorithm>
#include <iterator>

#include "platform/text/format.h"

namespace vr::msg {
namespace {

struct Entry {
  unsigned id;
  const char16_t* text;
};

// One table for the whole program, sorted by identifier. Each group of the program keeps its
// own block; keep every block in ascending order.
constexpr Entry kCatalogue[] = {
    // ---- Front end: XML load, COM, summaries (5..161)
    {5, u"(TESSERA5) Unable to connect to MS XML DOM (using ProgID MSXML2::DOMDocument).\n"},
    {9, u"(TESSERA9) File '%1' doesn't exist or could not be opened for reading.\n"},
    {100, u"(TESSERA100) COM initialization failed.\n"},
    {420, u"(TESSERA420) Unspecified error occured in method '%1' - use tracing to get more detailed information.\n"},
    // ---- XML reader: server directories of copyfile placeholders (807..814)
    {807, u"(TESSERA807) VRM/S installation path could not be determined from registry.\n"},
    {808, u"(TESSERA808) VRM/S packages path could not be determined from registry.\n"},
    {809, u"(TESSERA809) VRM/S agent installation path could not be determined from registry.\n"},
    {812, u"(TESSERA812) VRM/S data directory path could not be determined from registry.\n"},
    {813, u"(TESSERA813) VRM/S share directory path could not be determined from registry.\n"},
    {814, u"(TESSERA814) VRM/S share installation path could not be determined from registry.\n"},
    // ---- XML reader: content of the registration file (900..904)
    {900, u"(TESSERA900) XML parsing error, non-integer OS Type, in tag '%1', line '%2'.\n"},
    {901, u"(TESSERA901) XML parsing error, non-integer System Type, in tag '%1', line '%2'.\n"},
    {902, u"(TESSERA902) XML parsing error, non-integer OS version value, in tag '%1', line '%2'.\n"},
    {903, u"(TESSERA903) Failed to replace directory placeholder in '%1'.\n"},
    {904, u"(TESSERA904) XML parsing error, only YES or NO values are allowed for the <removable> flag, in tag '%1', line '%2'.\n"},
    // ---- Command line (20000..20300)
    {20001, u"(CMDL101) Incorrect command line syntax.\n"},
};

constexpr size_t kBufferChars = 1023;

}  // namespace

const char16_t* CatalogueText(unsigned id) {
  const auto* end = std::end(kCatalogue);
  const auto* it = std::lower_bound(std::begin(kCatalogue), end, id,
                                    [](const Entry& e, unsigned key) { return e.id < key; });
  return (it != end && it->id == id) ? it->text : nullptr;
}

bool CatalogueIsSorted() {
  return std::is_sorted(std::begin(kCatalogue), std::end(kCatalogue),
                        [](const Entry& a, const Entry& b) { return a.id < b.id; }) &&
         std::adjacent_find(std::begin(kCatalogue), std::end(kCatalogue),
                            [](const Entry& a, const Entry& b) { return a.id == b.id; }) == std::end(kCatalogue);
}

MessageArg::MessageArg(int n) : text(vr::text::Format(u"%d", n)) {}
MessageArg::MessageArg(long n) : text(vr::text::Format(u"%ld", n)) {}
MessageArg::MessageArg(unsigned n) : text(vr::text::Format(u"%u", n)) {}
MessageArg::MessageArg(unsigned long n) : text(vr::text::Format(u"%lu", n)) {}

WString LoadMessageList(unsigned id, std::initializer_list<WString> args) {
  const char16_t* raw = CatalogueText(id);
  if (!raw) return WString();
  WStringView text(raw);
  if (text.size() > kBufferChars) text = text.substr(0, kBufferChars);
  const WString* argv[9] = {};
  size_t argc = 0;
  for (const auto& a : args) {
    if (argc == 9) break;
    argv[argc++] = &a;
  }
  WString out;
  out.reserve(text.size() + 64);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'%' && i + 1 < text.size() && text[i + 1] >= u'1' && text[i + 1] <= u'9') {
      const size_t n = static_cast<size_t>(text[i + 1] - u'1');
      size_t end = i + 2;
      // A typed insert "%n!x!" is replaced whole.
      if (end < text.size() && text[end] == u'!') {
        const size_t close = text.find(u'!', end + 1);
        if (close != WStringView::npos) end = close + 1;
      }
      if (n < argc) out += *argv[n];
      i = end - 1;
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace vr::msg
