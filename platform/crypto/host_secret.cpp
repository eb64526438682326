#include "platform/crypto/host_secret.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/fault/fault.h"
#include "platform/os/hostroot.h"
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = "cannot read the host key " + path + ": " + std::strerror(errno);
      return false;
    }
    size_t got = 0;
    unsigned char extra;
    while (got < sizeof bytes_) {
      const ssize_t n = ::read(fd, bytes_ + got, sizeof bytes_ - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    const bool tooLong = got == sizeof bytes_ && ::read(fd, &extra, 1) > 0;
    ::close(fd);
    if (got != sizeof bytes_ || tooLong) {
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
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return true;
  if (Injected("crypto.CreateKey", error)) return false;
  const std::string temp = path + ".new";
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create the host key " + path + ": " + std::strerror(errno);
    return false;
  }
  Key key;
  randombytes_buf(key.data(), crypto_secretbox_KEYBYTES);
  size_t done = 0;
  while (done < crypto_secretbox_KEYBYTES) {
    const ssize_t n = ::write(fd, key.data() + done, crypto_secretbox_KEYBYTES - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  sodium_memzero(key.data(), crypto_secretbox_KEYBYTES);
  const bool ok = done == crypto_secretbox_KEYBYTES && ::fchmod(fd, 0600) == 0 && ::fsync(fd) == 0;
  const int savedErrno = errno;
  ::close(fd);
  // link, not rename: a key another program made meanwhile is kept, never replaced.
  if (!ok || (::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST)) {
    error = "cannot write the host key " + path + ": " + std::strerror(ok ? errno : savedErrno);
    ::unlink(temp.c_str());
    return false;
  }
  ::unlink(temp.c_str());
  if (const int dir = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
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
