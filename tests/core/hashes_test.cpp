#include "core/hashes.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using namespace ipcam;

namespace {

// Published vectors, and runs of 'a' on both sides of the padding bounds (55 bytes fit the
// length in the last block, 56 do not) as coreutils' md5sum and sha256sum give them.
TEST(HashesTest, KnownDigests) {
    struct Case {
        std::string input;
        const char *md5, *sha256;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "8215ef0796a20bcaaae116d3876c664a",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65",
         "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218",
         "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93",
         "f13b2d724659eb3bf47f2dd6af1accc87b81f09f59f2b75e5c0bed6589dfe8c6"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5",
         "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367",
         "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435",
         "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613",
         "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537",
         "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
        {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70",
         "6836cf13bac400e9105071cd6af47084dfacad4e5e302c94bfed24e013afb73e"},
        {std::string(1'000'000, 'a'), "7707d6ae4e027c70eea2a935c2296f21",
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(md5Hex(c.input), c.md5) << c.input.size() << " bytes";
        EXPECT_EQ(sha256Hex(c.input), c.sha256) << c.input.size() << " bytes";
    }
}

// SHA-1 on the published vectors and both sides of the padding bound, as Python's hashlib
// gives them.
TEST(HashesTest, KnownSha1Digests) {
    const std::pair<std::string, const char *> cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
        {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
        {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
        {std::string(1'000'000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto &[input, digest] : cases) EXPECT_EQ(sha1Hex(input), digest) << input.size();
}

// The same bytes in pieces of every size give the digest of the whole: the block buffer
// carries over correctly wherever a piece ends.
TEST(HashesTest, PiecesGiveTheWholeDigest) {
    std::string input;
    for (int i = 0; i < 200; ++i) input.push_back(static_cast<char>(i * 37 + 11));
    for (std::size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 200u}) {
        const std::string_view whole(input.data(), length);
        const std::string md5 = md5Hex(whole), sha = sha256Hex(whole), sha1 = sha1Hex(whole);
        for (std::size_t piece : {1u, 3u, 7u, 55u, 63u, 64u, 65u}) {
            Md5 m;
            Sha256 s;
            Sha1 s1;
            for (std::size_t at = 0; at < length; at += piece) {
                m.update(whole.substr(at, piece));
                s.update(whole.substr(at, piece));
                s1.update(whole.substr(at, piece));
            }
            auto md = m.finish();
            auto sd = s.finish();
            auto s1d = s1.finish();
            EXPECT_EQ(hexText(s1d.data(), s1d.size()), sha1) << length << " in " << piece;
            EXPECT_EQ(hexText(md.data(), md.size()), md5) << length << " in " << piece;
            EXPECT_EQ(hexText(sd.data(), sd.size()), sha) << length << " in " << piece;
        }
    }
}

}  // namespace
