// Documents written to attack the loader: none of them may read a file, reach the network,
// run away with time or memory, or crash; each fails to load with a reason.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "platform/xml/xml_test_util.h"

using vr::xml::test::DomTest;
using vr::xml::test::ScratchDir;

namespace {

const char* kDtd = "<!ELEMENT Root (Item)*>\n<!ATTLIST Root a CDATA #IMPLIED>\n<!ELEMENT Item (#PCDATA | Item)*>\n";
const std::string kSecret = "TOP-SECRET-CONTENT-4711";

// Everything the loaded document exposes, joined: what a disclosure would show up in.
std::string Exposed(IXMLDOMDocument2& doc) {
  std::string all;
  std::shared_ptr<IXMLDOMParseError> err;
  doc.get_parseError(&err);
  WString s;
  err->get_reason(&s);
  all += vr::text::WideToUtf8(s);
  std::shared_ptr<IXMLDOMElement> root;
  if (doc.get_documentElement(&root) == S_OK) {
    root->get_xml(&s);
    all += vr::text::WideToUtf8(s);
    root->get_text(&s);
    all += vr::text::WideToUtf8(s);
  }
  return all;
}

}  // namespace

class HostileTest : public DomTest {
 protected:
  void SetUp() override {
    DomTest::SetUp();
    dir_.Write("Test.dtd", kDtd);
    secretPath_ = dir_.Write("secret.txt", kSecret);
    doc_ = NewDocument();
    ASSERT_TRUE(doc_);
  }
  std::string secretPath_;
  std::shared_ptr<IXMLDOMDocument2> doc_;
};

TEST_F(HostileTest, ExternalEntitiesDiscloseNothing) {
  const std::string cases[] = {
      // A general entity naming a local file, by absolute path and by URL.
      "<!DOCTYPE Root SYSTEM \"Test.dtd\" [<!ENTITY x SYSTEM \"" + secretPath_ + "\">]><Root><Item>&x;</Item></Root>",
      "<!DOCTYPE Root SYSTEM \"Test.dtd\" [<!ENTITY x SYSTEM \"file://" + secretPath_ + "\">]><Root><Item>&x;</Item></Root>",
      // Relative to the document, even under the DTD's own name pattern.
      "<!DOCTYPE Root SYSTEM \"Test.dtd\" [<!ENTITY x SYSTEM \"secret.txt\">]><Root><Item>&x;</Item></Root>",
      // A parameter entity pulled into the internal subset.
      "<!DOCTYPE Root SYSTEM \"Test.dtd\" [<!ENTITY % p SYSTEM \"secret.txt\"> %p;]><Root/>",
      // The secret used as an attribute default through an entity.
      "<!DOCTYPE Root SYSTEM \"Test.dtd\" [<!ENTITY x SYSTEM \"secret.txt\"><!ATTLIST Root b CDATA \"&x;\">]><Root/>",
      // The secret named as the document type definition itself.
      "<!DOCTYPE Root SYSTEM \"" + secretPath_ + "\"><Root/>",
      "<!DOCTYPE Root SYSTEM \"secret.txt\"><Root/>",
  };
  for (const std::string& c : cases) {
    EXPECT_NE(LoadFails(*doc_, dir_.Write("x.xml", c)), "") << c;
    EXPECT_EQ(Exposed(*doc_).find(kSecret), std::string::npos) << c;
  }
  // A DTD beside the document that itself tries to reach the file.
  dir_.Write("Evil.dtd", "<!ENTITY % p SYSTEM \"secret.txt\"> %p; <!ELEMENT Root ANY>");
  EXPECT_NE(LoadFails(*doc_, dir_.Write("y.xml", "<!DOCTYPE Root SYSTEM \"Evil.dtd\"><Root/>")), "");
  EXPECT_EQ(Exposed(*doc_).find(kSecret), std::string::npos);
}

TEST_F(HostileTest, EntityExpansionBombIsRefusedQuickly) {
  std::string bomb = "<!DOCTYPE Root SYSTEM \"Test.dtd\" [\n<!ENTITY lol0 \"lol\">\n";
  for (int i = 1; i <= 12; ++i)
    bomb += "<!ENTITY lol" + std::to_string(i) + " \"" + [&] {
      std::string r;
      for (int k = 0; k < 10; ++k) r += "&lol" + std::to_string(i - 1) + ";";
      return r;
    }() + "\">\n";
  bomb += "]>\n<Root><Item>&lol12;</Item></Root>\n";
  const auto start = std::chrono::steady_clock::now();
  const std::string reason = LoadFails(*doc_, dir_.Write("bomb.xml", bomb));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_NE(reason.find("entity declarations are not allowed"), std::string::npos) << reason;
  EXPECT_LT(elapsed, std::chrono::seconds(2));
  // A quadratic blow-up built from one large entity is refused the same way.
  std::string quad = "<!DOCTYPE Root SYSTEM \"Test.dtd\" [<!ENTITY a \"" + std::string(50000, 'a') + "\">]><Root><Item>";
  for (int i = 0; i < 20000; ++i) quad += "&a;";
  quad += "</Item></Root>";
  EXPECT_NE(LoadFails(*doc_, dir_.Write("quad.xml", quad)), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST_F(HostileTest, HttpDtdIsNeverFetched) {
  // A listening socket that would see the connection if the loader tried one.
  const int srv = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  ASSERT_GE(srv, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(srv, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(srv, 4), 0);
  socklen_t len = sizeof addr;
  ::getsockname(srv, reinterpret_cast<sockaddr*>(&addr), &len);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/Test.dtd";

  EXPECT_NE(LoadFails(*doc_, dir_.Write("h.xml", "<!DOCTYPE Root SYSTEM \"" + url + "\"><Root/>")), "");
  EXPECT_NE(LoadFails(*doc_, dir_.Write("i.xml", "<!DOCTYPE Root SYSTEM \"Test.dtd\" [<!ENTITY x SYSTEM \"" + url +
                                                  "\">]><Root><Item>&x;</Item></Root>")),
            "");
  EXPECT_NE(LoadFails(*doc_, dir_.Write("j.xml", "<!DOCTYPE Root PUBLIC \"-//X//DTD X//EN\" \"" + url + "\"><Root/>")), "");
  const int conn = ::accept(srv, nullptr, nullptr);
  EXPECT_LT(conn, 0) << "the loader connected to " << url;
  if (conn >= 0) ::close(conn);
  ::close(srv);
}

TEST_F(HostileTest, SizeAndDepthBoundsFailCleanly) {
  // A 1 MB attribute.
  std::string big = "<!DOCTYPE Root SYSTEM \"Test.dtd\"><Root a=\"" + std::string(1 << 20, 'x') + "\"/>";
  EXPECT_NE(LoadFails(*doc_, dir_.Write("big.xml", big)).find("longer than"), std::string::npos);
  // One just under the bound is fine.
  std::string fits = "<!DOCTYPE Root SYSTEM \"Test.dtd\"><Root a=\"" + std::string(60000, 'x') + "\"/>";
  EXPECT_EQ(LoadFails(*doc_, dir_.Write("fits.xml", fits)), "");

  // 10,000 nested elements.
  std::string deep = "<!DOCTYPE Root SYSTEM \"Test.dtd\"><Root>";
  for (int i = 0; i < 10000; ++i) deep += "<Item>";
  for (int i = 0; i < 10000; ++i) deep += "</Item>";
  deep += "</Root>";
  EXPECT_NE(LoadFails(*doc_, dir_.Write("deep.xml", deep)), "");
  // 200 levels are within the bound.
  std::string ok = "<!DOCTYPE Root SYSTEM \"Test.dtd\"><Root>";
  for (int i = 0; i < 200; ++i) ok += "<Item>";
  ok += "x";
  for (int i = 0; i < 200; ++i) ok += "</Item>";
  ok += "</Root>";
  EXPECT_EQ(LoadFails(*doc_, dir_.Write("ok.xml", ok)), "");

  // A file beyond the document bound (sparse, so the test stays cheap) is not read at all.
  const std::string huge = dir_.path() + "/huge.xml";
  const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(vr::xml::kMaxDocumentBytes) + 1), 0);
  ::close(fd);
  EXPECT_NE(LoadFails(*doc_, huge).find("larger than"), std::string::npos);

  // Something that is not a regular file does not block the load.
  const std::string fifo = dir_.path() + "/fifo.xml";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  EXPECT_NE(LoadFails(*doc_, fifo), "");
  EXPECT_NE(LoadFails(*doc_, dir_.path()), "");
}

TEST_F(HostileTest, DtdNamesStayInsideTheDocumentsFolder) {
  // A relative path below the document's folder may name the DTD, with either separator.
  std::filesystem::create_directories(dir_.path() + "/dtd");
  dir_.Write("dtd/Sub.dtd", kDtd);
  EXPECT_EQ(LoadFails(*doc_, dir_.Write("a.xml", "<!DOCTYPE Root SYSTEM \"dtd/Sub.dtd\"><Root/>")), "");
  EXPECT_EQ(LoadFails(*doc_, dir_.Write("b.xml", "<!DOCTYPE Root SYSTEM \"dtd\\Sub.dtd\"><Root/>")), "");
  // Nothing that reaches out of it: a parent folder, an absolute path, a URL, a drive, a link
  // out of the folder; each is refused with a reason that names what was refused.
  ScratchDir outside;
  outside.Write("Out.dtd", kDtd);
  std::filesystem::create_symlink(outside.path(), dir_.path() + "/link");
  for (const std::string& name : {"../" + std::filesystem::path(outside.path()).filename().string() + "/Out.dtd",
                                  outside.path() + "/Out.dtd", "file://" + outside.path() + "/Out.dtd",
                                  std::string("C:\\Out.dtd"), std::string("link/Out.dtd"), std::string("dtd/./Sub.dtd")}) {
    const std::string reason = LoadFails(*doc_, dir_.Write("c.xml", "<!DOCTYPE Root SYSTEM \"" + name + "\"><Root/>"));
    EXPECT_NE(reason.find("document type definition"), std::string::npos) << name << ": " << reason;
  }
}
