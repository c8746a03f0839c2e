// SHA-256 against the published test vectors and, for every length around the block
// boundaries, against the system's sha256sum.
#include "common/sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/test_dirs.h"

namespace kestrel {
namespace {

TEST(Sha256, PublishedVectorsAndTheSystemsDigestAtEveryLength) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(sha256_hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  testing::ScratchDir dir;
  std::string text;
  for (int n = 0; n <= 130; ++n) {
    testing::spit(dir / "bytes", text);
    const std::string cmd = "sha256sum '" + (dir / "bytes").string() + "' > '" + (dir / "sum").string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(sha256_hex(text), testing::slurp(dir / "sum").substr(0, 64)) << n;
    text += static_cast<char>((n * 37 + 200) % 256);  // every byte value, high bit included
  }
}

}  // namespace
}  // namespace kestrel
