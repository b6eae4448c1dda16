// MD5 and SHA-256, for the digest answers of HTTP and RTSP authentication, and SHA-1, for the
// password digest of WS-Security UsernameTokens.
//
// Our own small implementations: the library links nothing for them. Both take the input in
// any number of pieces, so a long text need not be gathered first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ipcam {

// MD5 of the bytes given to update, in as many pieces as the caller likes.
class Md5 {
  public:
    Md5();
    void update(std::string_view bytes);
    // The 16-byte digest; the object is spent after this.
    std::array<uint8_t, 16> finish();

  private:
    friend struct HashSteps;
    void block(const uint8_t *p);
    uint32_t state_[4];
    uint64_t length_ = 0;  // bytes so far
    uint8_t buffer_[64];
    std::size_t used_ = 0;
};

// SHA-256 of the bytes given to update, in as many pieces as the caller likes.
class Sha256 {
  public:
    Sha256();
    void update(std::string_view bytes);
    // The 32-byte digest; the object is spent after this.
    std::array<uint8_t, 32> finish();

  private:
    friend struct HashSteps;
    void block(const uint8_t *p);
    uint32_t state_[8];
    uint64_t length_ = 0;
    uint8_t buffer_[64];
    std::size_t used_ = 0;
};

// SHA-1 of the bytes given to update, in as many pieces as the caller likes.
class Sha1 {
  public:
    Sha1();
    void update(std::string_view bytes);
    // The 20-byte digest; the object is spent after this.
    std::array<uint8_t, 20> finish();

  private:
    friend struct HashSteps;
    void block(const uint8_t *p);
    uint32_t state_[5];
    uint64_t length_ = 0;
    uint8_t buffer_[64];
    std::size_t used_ = 0;
};

// Lower-case hexadecimal digests of a whole byte string.
std::string md5Hex(std::string_view bytes);
std::string sha256Hex(std::string_view bytes);
std::string sha1Hex(std::string_view bytes);

// Lower-case hexadecimal of any bytes.
std::string hexText(const uint8_t *bytes, std::size_t count);

}  // namespace ipcam
