// Object paths, namespace paths and WQL: what parses, what does not, and how keys compare.
#include <gtest/gtest.h>

#include "platform/com/safearray.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/object_path.h"
#include "platform/wmi/wql.h"
#include "platform/text/convert.h"

namespace {

using namespace vr::wmi;

TEST(ObjectPath, FormsOfAPath) {
  ObjectPath p;
  ASSERT_EQ(ParseObjectPath(u"VR_ManagedNode", &p), S_OK);
  EXPECT_TRUE(p.IsClassPath());
  ASSERT_EQ(ParseObjectPath(u"\\\\.\\root\\Tamberlin:VR_PlatformMatch.MatchExpression=\"a,b=\\\"c\\\"\",Method=-2,Property=0x10",
                            &p),
            S_OK);
  EXPECT_EQ(p.server, u".");
  EXPECT_EQ(p.nameSpace, u"root\\Tamberlin");
  EXPECT_EQ(p.className, u"VR_PlatformMatch");
  ASSERT_EQ(p.keys.size(), 3u);
  EXPECT_EQ(p.keys[0].text, u"a,b=\"c\"");
  EXPECT_TRUE(p.keys[0].quoted);
  EXPECT_EQ(p.keys[1].text, u"-2");
  EXPECT_FALSE(p.keys[1].quoted);
  ASSERT_EQ(ParseObjectPath(u"//server/root/x:C='single \\' quote'", &p), S_OK);
  EXPECT_EQ(p.nameSpace, u"root\\x");
  ASSERT_EQ(p.keys.size(), 1u);
  EXPECT_EQ(p.keys[0].name, u"");
  EXPECT_EQ(p.keys[0].text, u"single ' quote");
  ASSERT_EQ(ParseObjectPath(u"Settings=@", &p), S_OK);
  EXPECT_TRUE(p.singleton);
  ASSERT_EQ(ParseObjectPath(u"root\\cimv2:Win32_Flag.On=TRUE", &p), S_OK);
  EXPECT_EQ(p.keys[0].text, u"TRUE");
}

TEST(ObjectPath, MalformedPathsAreRefused) {
  for (const char16_t* bad : {u"", u".", u"1Class", u"Class.", u"Class.Key", u"Class.Key=", u"Class.Key=\"open",
                              u"Class.Key=\"a\"junk", u"Class.Key=bare", u"Class.Key=1,", u"Class=@x", u"Class=1,K=2",
                              u"\\\\.\\root", u"\\\\:Class", u"root\\\\x:Class", u"Class.K=1.5", u"Cl ass", u"Class.K=-",
                              u"Class.K=0x", u"Class.=1"}) {
    ObjectPath p;
    EXPECT_EQ(ParseObjectPath(bad, &p), WBEM_E_INVALID_OBJECT_PATH) << vr::text::WideToUtf8(bad);
  }
}

TEST(ObjectPath, KeysCompareAsWmiComparesThem) {
  ClassDecl decl;
  decl.name = u"VR_NodeGroupMember";
  for (const char16_t* n : {u"PartComponent", u"GroupComponent"}) {
    PropertyDef p;
    p.name = n;
    p.type = CIM_REFERENCE;
    p.qualifiers.Set({u"key", Variant(true), 0});
    decl.properties.push_back(p);
  }
  std::shared_ptr<const ResolvedClass> cls;
  ASSERT_EQ(ResolveClass(decl, nullptr, &cls, nullptr), S_OK);
  auto key = [&](const char16_t* text) {
    ObjectPath p;
    EXPECT_EQ(ParseObjectPath(text, &p), S_OK);
    WString k;
    return SUCCEEDED(CanonicalPathKey(*cls, p, u"root\\x", &k)) ? k : WString(u"(invalid)");
  };
  const WString a = key(u"VR_NodeGroupMember.GroupComponent=\"VR_NodeGroup.Name=\\\"A\\\"\",PartComponent=\"VR_NodeGroup.Name=\\\"B\\\"\"");
  EXPECT_EQ(a, key(u"VR_NodeGroupMember.PartComponent='vr_nodegroup.name=\"b\"',groupcomponent='VR_NodeGroup.Name=\\'a\\''"));
  EXPECT_NE(a, key(u"VR_NodeGroupMember.GroupComponent='VR_NodeGroup.Name=\"A\"',PartComponent='VR_NodeGroup.Name=\"C\"'"));
  EXPECT_EQ(key(u"VR_NodeGroupMember.GroupComponent='VR_NodeGroup.Name=\"A\"'"), u"(invalid)");  // a key missing
  EXPECT_EQ(key(u"VR_NodeGroupMember.GroupComponent='no path',PartComponent='y'"), u"(invalid)");  // not a path
  EXPECT_EQ(key(u"VR_NodeGroupMember.GroupComponent='VR_NodeGroup.Name=\"A\"',PartComponent='VR_NodeGroup.Name=\"B\"',"
                u"Other=1"),
            u"(invalid)");
  // The namespace the reference names is dropped when it is the repository's own.
  EXPECT_EQ(key(u"VR_NodeGroupMember.GroupComponent='\\\\\\\\.\\\\ROOT\\\\X:VR_NodeGroup.Name=\"A\"',"
                u"PartComponent='VR_NodeGroup.Name=\"B\"'"),
            a);
}

TEST(NamespacePath, SlashesAndServers) {
  WString server, ns;
  ASSERT_EQ(ParseNamespacePath(u"//./root/Tamberlin/Vorant/data", &server, &ns), S_OK);
  EXPECT_EQ(server, u".");
  EXPECT_EQ(ns, u"root\\Tamberlin\\Vorant\\data");
  ASSERT_EQ(ParseNamespacePath(u"root", &server, &ns), S_OK);
  EXPECT_EQ(server, u"");
  for (const char16_t* bad : {u"", u"\\\\", u"\\\\.", u"\\\\.\\", u"root\\", u"root\\\\x", u"root\\a b", u"root:x"})
    EXPECT_EQ(ParseNamespacePath(bad, &server, &ns), WBEM_E_INVALID_NAMESPACE);
  EXPECT_TRUE(IsLocalServer(u"."));
  EXPECT_TRUE(IsLocalServer(u"LocalHost"));
  EXPECT_TRUE(IsLocalServer(ComputerName()));
  EXPECT_FALSE(IsLocalServer(u"elsewhere-far-away"));
}

TEST(Wql, TheSubsetThatIsServed) {
  WqlQuery q;
  WString why;
  ASSERT_EQ(ParseWql(u"  select * from VR_PlatformMatch where MatchExpression = 'it''s' AND Method=-2 and Flag = true "
                     u"AND Nothing = NULL",
                     &q, &why),
            WBEM_E_INVALID_QUERY);  // '' is not an escape in this WQL
  ASSERT_EQ(ParseWql(u"select * from VR_PlatformMatch where MatchExpression = 'it\\'s' AND Method=-2 and Flag = true "
                     u"AND Nothing = NULL",
                     &q, &why),
            S_OK)
      << std::string(why.begin(), why.end());
  EXPECT_EQ(q.className, u"VR_PlatformMatch");
  ASSERT_EQ(q.conditions.size(), 4u);
  EXPECT_EQ(q.conditions[0].text, u"it's");
  EXPECT_EQ(q.conditions[1].kind, WqlCondition::Kind::kNumber);
  EXPECT_EQ(q.conditions[1].text, u"-2");
  EXPECT_EQ(q.conditions[2].kind, WqlCondition::Kind::kBoolean);
  EXPECT_EQ(q.conditions[3].kind, WqlCondition::Kind::kNull);
  ASSERT_EQ(ParseWql(u"SELECT * FROM A", &q, &why), S_OK);
  EXPECT_TRUE(q.conditions.empty());
  struct Bad {
    const char16_t* text;
    const char* why;
  };
  for (const Bad& b : {Bad{u"", "Expected SELECT at column 1."}, Bad{u"SELECT Name FROM A", "Only SELECT * is supported"},
                       Bad{u"SELECT * A", "Expected FROM at column 10."}, Bad{u"SELECT * FROM", "Expected a class name"},
                       Bad{u"SELECT * FROM A WHERE", "Expected a property name"},
                       Bad{u"SELECT * FROM A WHERE X", "Only the = operator"},
                       Bad{u"SELECT * FROM A WHERE X < 3", "Only the = operator"},
                       Bad{u"SELECT * FROM A WHERE X = 'open", "is not closed"},
                       Bad{u"SELECT * FROM A WHERE X = 1 OR Y = 2", "Expected AND"},
                       Bad{u"SELECT * FROM A WHERE X = 1x", "Malformed number"},
                       Bad{u"SELECT * FROM A B", "Expected WHERE"}}) {
    EXPECT_EQ(ParseWql(b.text, &q, &why), WBEM_E_INVALID_QUERY);
    EXPECT_NE(std::string(why.begin(), why.end()).find(b.why), std::string::npos) << std::string(why.begin(), why.end());
  }
}

TEST(CimTypes, ConversionsFollowWmi) {
  Variant out;
  EXPECT_EQ(ConvertToCim(Variant(int32_t(-1)), CIM_UINT32, &out), S_OK);  // a uint32 travels as its VT_I4 bits
  EXPECT_EQ(out.vt, VT_I4);
  EXPECT_EQ(ConvertToCim(Variant(u"4294967295"), CIM_UINT32, &out), S_OK);
  EXPECT_EQ(out.lVal, -1);
  EXPECT_EQ(ConvertToCim(Variant(u"4294967296"), CIM_UINT32, &out), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(ConvertToCim(Variant(int32_t(256)), CIM_UINT8, &out), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(ConvertToCim(Variant(int32_t(-5)), CIM_SINT64, &out), S_OK);
  EXPECT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(out.bstrVal, u"-5");
  EXPECT_EQ(ConvertToCim(Variant(int32_t(5)), CIM_STRING, &out), WBEM_E_TYPE_MISMATCH);  // strings are strict
  EXPECT_EQ(ConvertToCim(Variant(u"x"), CIM_SINT32, &out), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(ConvertToCim(Variant(1.5), CIM_SINT32, &out), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(ConvertToCim(Variant(true), CIM_SINT32, &out), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(ConvertToCim(Variant(u"2024"), CIM_DATETIME, &out), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(ConvertToCim(Variant(u"20240131120000.000000+060"), CIM_DATETIME, &out), S_OK);
  EXPECT_EQ(ConvertToCim(Variant(u"00000001000000.000000:000"), CIM_DATETIME, &out), S_OK);
  EXPECT_EQ(ConvertToCim(Variant::Null(), CIM_SINT32, &out), S_OK);
  EXPECT_EQ(out.vt, VT_NULL);
  Variant strings;
  strings.AttachArray(SafeArrayFromStrings({u"1", u"2"}));
  EXPECT_EQ(ConvertToCim(strings, CIM_UINT16 | CIM_FLAG_ARRAY, &out), S_OK);
  EXPECT_EQ(out.vt, VT_ARRAY | VT_I4);
  EXPECT_EQ(ConvertToCim(strings, CIM_UINT16, &out), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(ConvertToCim(Variant(int32_t(1)), CIM_UINT16 | CIM_FLAG_ARRAY, &out), WBEM_E_TYPE_MISMATCH);
  EXPECT_FALSE(CanBeKeyType(CIM_REAL64));
  EXPECT_FALSE(CanBeKeyType(CIM_STRING | CIM_FLAG_ARRAY));
  EXPECT_TRUE(CanBeKeyType(CIM_REFERENCE));
}

}  // namespace
