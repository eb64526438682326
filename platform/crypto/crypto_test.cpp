#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/com/errorinfo.h"
#include "platform/crypto/VrEpDBCrypt.h"
#include "platform/crypto/host_secret.h"
#include "platform/fault/fault.h"
#include "platform/registry/registry.h"
#include "platform/registry/regtools.h"
#include "platform/text/convert.h"
#include "tests/support/HostTestSupport.h"

namespace {

using vr::testing::ScopedEnv;
using vr::testing::TempDir;
using vr::text::WideToUtf8;

constexpr const char16_t* kKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\DBAccess";

class HostSecretTest : public ::testing::Test {
 protected:
  HostSecretTest() : env_("VR_HOST_ROOT", root_.path()) {
    vr::fault::Reset();
    std::string error;
    EXPECT_TRUE(vr::crypto::CreateHostKey(root_.path(), error)) << error;
  }
  ~HostSecretTest() override {
    vr::fault::Reset();
    vr::registry::CloseHive();
  }
  void StoreValue(const WString& text, DWORD type = REG_SZ) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, u"Password", 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(WChar))),
              ERROR_SUCCESS);
    RegCloseKey(h);
  }

  TempDir root_{"vrcrypto"};
  ScopedEnv env_;
};

TEST_F(HostSecretTest, HostKeyIsPrivateAndKept) {
  struct stat st;
  ASSERT_EQ(::stat((root_ / "host.key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  const std::string before = vr::testing::ReadFileBytes(root_ / "host.key");
  std::string error;
  ASSERT_TRUE(vr::crypto::CreateHostKey(root_.path(), error));
  EXPECT_EQ(vr::testing::ReadFileBytes(root_ / "host.key"), before);
  EXPECT_FALSE(vr::crypto::CreateHostKey(root_ / "missing", error));
  EXPECT_FALSE(error.empty());
}

TEST_F(HostSecretTest, StoredFormDeciphersOnlyWithItsKeyAndUnchanged) {
  const WString plain = u"p\u00e4ss w;rd'\"\U0001F511";
  WString stored, back;
  std::string error;
  ASSERT_TRUE(vr::crypto::EncipherSecret(plain, stored, error)) << error;
  EXPECT_EQ(stored.rfind(vr::crypto::kStoredPrefix, 0), 0u);
  EXPECT_EQ(WideToUtf8(stored).find("ss w;rd"), std::string::npos);
  WString again;
  ASSERT_TRUE(vr::crypto::EncipherSecret(plain, again, error));
  EXPECT_NE(again, stored);  // a fresh nonce every time
  ASSERT_TRUE(vr::crypto::DecipherSecret(stored, back, error)) << error;
  EXPECT_EQ(back, plain);

  // One changed character, a foreign text, a text that is no stored form.
  WString changed = stored;
  changed[changed.size() - 3] = changed[changed.size() - 3] == u'A' ? u'B' : u'A';
  EXPECT_FALSE(vr::crypto::DecipherSecret(changed, back, error));
  EXPECT_TRUE(back.empty());
  EXPECT_FALSE(vr::crypto::DecipherSecret(u"VRSB1:@@@", back, error));
  EXPECT_FALSE(vr::crypto::DecipherSecret(u"plainpassword", back, error));
  EXPECT_EQ(error.find("plainpassword"), std::string::npos);

  // Another host's key.
  TempDir other("vrcrypto2");
  ASSERT_TRUE(vr::crypto::CreateHostKey(other.path(), error));
  ScopedEnv otherRoot("VR_HOST_ROOT", other.path());
  EXPECT_FALSE(vr::crypto::DecipherSecret(stored, back, error));
  EXPECT_NE(error.find("another host"), std::string::npos) << error;
}

TEST_F(HostSecretTest, DbCryptReadsTheRegistryValue) {
  CVrEpDBCrypt crypt;
  WString password = u"stale";
  EXPECT_EQ(crypt.GetDBPassword(kKey, u"Password", &password), E_FAIL);  // no key
  EXPECT_TRUE(password.empty());
  WString stored;
  std::string error;
  ASSERT_TRUE(vr::crypto::EncipherSecret(u"depot-pw", stored, error));
  StoreValue(stored);
  ASSERT_EQ(crypt.GetDBPassword(kKey, u"Password", &password), S_OK);
  EXPECT_EQ(password, u"depot-pw");
  EXPECT_EQ(crypt.GetDBPassword(kKey, u"Other", &password), E_FAIL);

  // A clear-text value is refused, and its text is in no error.
  StoreValue(u"cleartext-secret");
  EXPECT_EQ(crypt.GetDBPassword(kKey, u"Password", &password), E_FAIL);
  std::shared_ptr<ErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  EXPECT_EQ(WideToUtf8(info->description).find("cleartext-secret"), std::string::npos);
  StoreValue(u"");
  EXPECT_EQ(crypt.GetDBPassword(kKey, u"Password", &password), E_FAIL);
  // An enciphered empty password counts as none; a value over 1000 bytes is refused.
  ASSERT_TRUE(vr::crypto::EncipherSecret(u"", stored, error));
  StoreValue(stored);
  EXPECT_EQ(crypt.GetDBPassword(kKey, u"Password", &password), E_FAIL);
  ASSERT_TRUE(vr::crypto::EncipherSecret(WString(600, u'x'), stored, error));
  StoreValue(stored);
  EXPECT_EQ(crypt.GetDBPassword(kKey, u"Password", &password), E_FAIL);

  // The host key is needed: without it nothing deciphers.
  ASSERT_TRUE(vr::crypto::EncipherSecret(u"depot-pw", stored, error));
  StoreValue(stored);
  vr::fault::Configure("crypto.Decipher#1");
  EXPECT_EQ(crypt.GetDBPassword(kKey, u"Password", &password), E_FAIL);
  vr::fault::Reset();
  ASSERT_EQ(::unlink((root_ / "host.key").c_str()), 0);
  EXPECT_EQ(crypt.GetDBPassword(kKey, u"Password", &password), E_FAIL);
}

}  // namespace
