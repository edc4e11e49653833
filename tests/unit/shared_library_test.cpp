// Libraries opened on first use: a table is bound whole or not at all, and a failure names
// the library and what is missing.
#include <cstring>
#include <string>

#include "host/shared_library.h"
#include "support.h"

namespace kel::test {
namespace {

using StrLen = size_t (*)(const char*);
using StrChr = const char* (*)(const char*, int);

TEST(SharedLibrary, BindsEverySlotOrNone) {
    struct Case {
        const char* what;
        const char* soname;
        const char* second;  // the symbol bound after strlen
        bool ok;
        const char* reason;  // a part of the failure's text
    } cases[] = {
        {"present", "libc.so.6", "strchr", true, ""},
        {"no such library", "libkel-absent.so.1", "strchr", false, "libkel-absent.so.1"},
        {"a symbol missing", "libc.so.6", "kel_absent_symbol", false, "kel_absent_symbol"},
    };
    for (const Case& c : cases) {
        StrLen len = nullptr;
        StrChr chr = nullptr;
        std::string why;
        bool ok = host::try_bind_shared_library(c.soname, {{"strlen", &len}, {c.second, &chr}}, &why);
        EXPECT_EQ(ok, c.ok) << c.what;
        if (ok) {
            ASSERT_NE(len, nullptr);
            EXPECT_EQ(len("four"), 4u) << c.what;
            EXPECT_NE(chr, nullptr) << c.what;
        } else {
            // strlen exists in libc, yet stays unbound when a later symbol is missing.
            EXPECT_EQ(len, nullptr) << c.what;
            EXPECT_EQ(chr, nullptr) << c.what;
            EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
        }
    }
}

class SharedLibraryTest : public RuntimeTest {};

TEST_F(SharedLibraryTest, MissingRaisesNotHere) {
    StrLen len = nullptr;
    EXPECT_EQ(catch_error([&] { host::bind_shared_library("libkel-absent.so.1", {{"strlen", &len}}); }),
              rt::Err::internal_not_here);
    EXPECT_EQ(catch_error([&] { host::bind_shared_library("libc.so.6", {{"strlen", &len}}); }), rt::Err::count);
    EXPECT_NE(len, nullptr);
}

}  // namespace
}  // namespace kel::test
