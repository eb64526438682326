#include <gtest/gtest.h>

#include "tessera/Messages.h"

#include <set>
#include <vector>

namespace vr::msg {
bool CatalogueIsSorted();
std::vector<unsigned> CatalogueIds();
}

using vr::msg::LoadMessage;
using vr::msg::MessageId;

TEST(Messages, CatalogueIsOneSortedTable) { EXPECT_TRUE(vr::msg::CatalogueIsSorted()); }

TEST(Messages, InsertsAreReplacedOnce) {
  EXPECT_EQ(LoadMessage(9, u"C:\\a.xml"), u"(TESSERA9) File 'C:\\a.xml' doesn't exist or could not be opened for reading.\n");
  // An argument holding a placeholder is not expanded again.
  EXPECT_EQ(LoadMessage(9, u"%1%2"), u"(TESSERA9) File '%1%2' doesn't exist or could not be opened for reading.\n");
  EXPECT_EQ(LoadMessage(9), u"(TESSERA9) File '' doesn't exist or could not be opened for reading.\n");
  EXPECT_EQ(LoadMessage(999999), u"");
  EXPECT_EQ(LoadMessage(420, u"main()"),
            u"(TESSERA420) Unspecified error occured in method 'main()' - use tracing to get more detailed information.\n");
}

// The names and the catalogue cannot drift apart: each name has an entry, each entry a name,
// and no two names share a number.
TEST(Messages, EveryIdentifierHasExactlyOneName) {
  std::set<unsigned> named;
  for (MessageId id : vr::msg::kAllMessageIds) {
    EXPECT_NE(vr::msg::CatalogueText(id), nullptr) << "name without a catalogue entry: " << vr::msg::ToNumber(id);
    EXPECT_TRUE(named.insert(vr::msg::ToNumber(id)).second) << "two names for " << vr::msg::ToNumber(id);
  }
  const std::vector<unsigned> ids = vr::msg::CatalogueIds();
  EXPECT_EQ(ids.size(), named.size());
  for (unsigned id : ids) EXPECT_EQ(named.count(id), 1u) << "catalogue entry without a name: " << id;
}

TEST(Messages, NamedCallsGiveTheNumberedTexts) {
  EXPECT_EQ(LoadMessage(MessageId::kXmlFileUnreadable, u"C:\\a.xml"), LoadMessage(9, u"C:\\a.xml"));
  EXPECT_EQ(vr::msg::LoadMessageList(MessageId::kUnspecifiedError, {u"main()"}), LoadMessage(420, u"main()"));
  EXPECT_EQ(vr::msg::CatalogueText(MessageId::kUuidCreateFailed), vr::msg::CatalogueText(20300u));
  EXPECT_EQ(vr::msg::ToNumber(MessageId::kCmdlineArgumentCount), 20000u);
}
