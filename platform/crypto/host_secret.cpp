#include "platform/crypto/host_secret.h"

#include <sodium.h>

#include <memory>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/file.h"
#include "platform/os/hostroot.h"
#include "platform/os/message.h"
#include "platform/text/convert.h"

namespace vr::crypto {
namespace {

bool Init(std::string& error) {
  if (sodium_init() < 0) {
    error = "the cryptography library cannot be initialised";
    return false;
  }
  return true;
}

bool Injected(const char* point, std::string& error) {
  if (vr::fault::Hit(point)) {
    error = std::string("fault injected at ") + point;
    return true;
  }
  return false;
}

// The host key, in memory locked away from swap where the system allows it.
class Key {
 public:
  Key() { sodium_mlock(bytes_, sizeof bytes_); }
  ~Key() { sodium_munlock(bytes_, sizeof bytes_); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  unsigned char* data() { return bytes_; }

  bool Load(std::string& error) {
    const std::string path = HostKeyPath();
    std::unique_ptr<vr::os::File> file;
    if (long rc = vr::os::File::Open(vr::text::Utf8ToWide(path), "rb", vr::os::Share::DenyNone, file);
        rc != ERROR_SUCCESS) {
      error = "cannot read the host key " + path + ": " + vr::os::ErrorReason(rc);
      return false;
    }
    // The key goes straight into the locked buffer; one byte more tells a longer file.
    size_t got = 0, extra = 0;
    unsigned char more;
    long rc = file->Read(bytes_, sizeof bytes_, got);
    if (rc == ERROR_SUCCESS && got == sizeof bytes_) rc = file->Read(&more, 1, extra);
    file->Close();  // read only: nothing is lost when the close fails
    if (rc != ERROR_SUCCESS) {
      error = "cannot read the host key " + path + ": " + vr::os::ErrorReason(rc);
      return false;
    }
    if (got != sizeof bytes_ || extra != 0) {
      error = "the host key " + path + " is not a key of " + std::to_string(sizeof bytes_) + " bytes";
      return false;
    }
    return true;
  }

 private:
  unsigned char bytes_[crypto_secretbox_KEYBYTES];
};

}  // namespace

std::string HostKeyPath() { return vr::os::HostPath(kHostKeyFile); }

bool CreateHostKey(const std::string& root, std::string& error) {
  if (!Init(error)) return false;
  const std::string path = root + "/" + kHostKeyFile;
  if (vr::os::FileExists(vr::text::Utf8ToWide(path))) return true;
  if (Injected("crypto.CreateKey", error)) return false;
  Key key;
  randombytes_buf(key.data(), crypto_secretbox_KEYBYTES);
  // Owner only from the start; a key another program made meanwhile is kept, never replaced.
  const long rc = vr::os::CreateNewFile(
      path, std::string_view(reinterpret_cast<const char*>(key.data()), crypto_secretbox_KEYBYTES), true);
  sodium_memzero(key.data(), crypto_secretbox_KEYBYTES);
  if (rc != ERROR_SUCCESS && rc != ERROR_ALREADY_EXISTS) {
    error = "cannot write the host key " + path + ": " + vr::os::ErrorReason(rc);
    return false;
  }
  return true;
}

bool EncipherSecret(WStringView plain, WString& stored, std::string& error) {
  if (!Init(error)) return false;
  if (Injected("crypto.Encipher", error)) return false;
  Key key;
  if (!key.Load(error)) return false;
  std::string message = vr::text::WideToUtf8(plain);
  std::vector<unsigned char> out(crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + message.size());
  randombytes_buf(out.data(), crypto_secretbox_NONCEBYTES);
  crypto_secretbox_easy(out.data() + crypto_secretbox_NONCEBYTES, reinterpret_cast<const unsigned char*>(message.data()),
                        message.size(), out.data(), key.data());
  sodium_memzero(message.data(), message.size());
  std::vector<char> text(sodium_base64_ENCODED_LEN(out.size(), sodium_base64_VARIANT_ORIGINAL));
  sodium_bin2base64(text.data(), text.size(), out.data(), out.size(), sodium_base64_VARIANT_ORIGINAL);
  stored = WString(kStoredPrefix) + vr::text::Utf8ToWide(text.data());
  return true;
}

bool DecipherSecret(WStringView stored, WString& plain, std::string& error) {
  plain.clear();
  if (!Init(error)) return false;
  if (Injected("crypto.Decipher", error)) return false;
  const WStringView prefix(kStoredPrefix);
  if (stored.substr(0, prefix.size()) != prefix) {
    error = "the stored password is not in the enciphered form of this host";
    return false;
  }
  const std::string text = vr::text::WideToUtf8(stored.substr(prefix.size()));
  std::vector<unsigned char> box(text.size());
  size_t length = 0;
  if (sodium_base642bin(box.data(), box.size(), text.data(), text.size(), nullptr, &length, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      length < crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES) {
    error = "the stored password is damaged";
    return false;
  }
  Key key;
  if (!key.Load(error)) return false;
  std::string message(length - crypto_secretbox_NONCEBYTES - crypto_secretbox_MACBYTES, '\0');
  if (crypto_secretbox_open_easy(reinterpret_cast<unsigned char*>(message.data()), box.data() + crypto_secretbox_NONCEBYTES,
                                 length - crypto_secretbox_NONCEBYTES, box.data(), key.data()) != 0) {
    error = "the stored password does not decipher with the host key (made on another host, or changed)";
    return false;
  }
  if (!vr::text::Utf8ToWideStrict(message, plain)) {
    sodium_memzero(message.data(), message.size());
    error = "the stored password is damaged";
    return false;
  }
  sodium_memzero(message.data(), message.size());
  return true;
}

void WipeSecret(WString& secret) {
  if (!secret.empty()) sodium_memzero(secret.data(), secret.size() * sizeof(WChar));
  secret.clear();
}

}  // namespace vr::crypto
