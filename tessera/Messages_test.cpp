#include <gtest/gtest.h>

#include "tessera/Messages.h"

namespace vr::msg { bool CatalogueIsSorted(); }

using vr::msg::LoadMessage;

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
