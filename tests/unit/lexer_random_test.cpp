// Random and mutated inputs through every lexer mode: none may crash, hang or leak (the
// Debug build runs this under AddressSanitizer). The seed is fixed, so a failure repeats.
#include <random>
#include <string>
#include <vector>

#include "fuzz/lexer_fuzz_body.h"
#include "support.h"

namespace kel::test {
namespace {

class LexerRandom : public RuntimeTest {};

// A collection at every allocation makes each input slow: the stress build runs fewer.
constexpr int kRounds = KEL_GC_STRESS ? 1 : 4;

const char* const kSeeds[] = {
    "a b: :c 'd /e #f [g (h)] a/b/c: 'x/y :z/1",
    "1 -2 +3 1'000 1.5 .5e3 1.#INF 50% 1x2 1.2.3 12-Dec-2012/10:00+1:00 2012-W50-3 2012-347",
    "\"str^\"ing^(41)^(tab)\" {br{ac}e^}} %%{raw}%% #\"c\" #\"^(1F600)\" %file %\"q f\"",
    "http://x.y/z%20 a@b.c <tag a=\"b>\"> @ref #{0A0B} 2#{00001111} 64#{QUJD} $1.50 USD$1'000",
    "#[a 1 b 2] #(true) #(int) (1, 2) (1, 2, 3) FFh 0Ah 1:30:15.5 -0:01 ; comment\n x",
    "caf\xC3\xA9 \xE3\x80\x80word\xE2\x80\x8B \xF0\x9F\x98\x80 \xC0\xFF\x80",
};

TEST_F(LexerRandom, NoInputBreaksTheLexer) {
    std::mt19937 rng(20261210);
    const std::string alphabet = " \t\n\r[](){}\"#':xXThEeaFA/\\<>=%,;@.$+-^01239zZ\x01\x7F\xC3\xA9\xE3\x80\x80\xF0\x9F\x98\x80\xC0\xFF";
    auto pick = [&](size_t n) { return size_t(rng() % n); };
    std::vector<std::string> inputs;
    for (int i = 0; i < 250 * kRounds; ++i) {  // random bytes
        std::string s(pick(48), '\0');
        for (char& c : s) c = char(rng() & 0xFF);
        inputs.push_back(s);
    }
    for (int i = 0; i < 375 * kRounds; ++i) {  // the lexer's own characters
        std::string s(pick(64), ' ');
        for (char& c : s) c = alphabet[pick(alphabet.size())];
        inputs.push_back(s);
    }
    for (int i = 0; i < 375 * kRounds; ++i) {  // valid text, mutated
        std::string s = kSeeds[pick(std::size(kSeeds))];
        for (int m = int(pick(4)) + 1; m > 0 && !s.empty(); --m) {
            size_t at = pick(s.size());
            switch (pick(4)) {
                case 0: s[at] = alphabet[pick(alphabet.size())]; break;
                case 1: s.insert(at, 1, alphabet[pick(alphabet.size())]); break;
                case 2: s.erase(at, 1); break;
                default: s = s.substr(0, at); break;
            }
        }
        inputs.push_back(s);
    }
    inputs.push_back(std::string(5000, '['));  // deep nesting costs no native stack
    inputs.push_back(std::string(3000, '(') + "1, 2");
    inputs.push_back("{" + std::string(4000, '{'));
    for (const std::string& s : inputs) fuzz::lex_one_input(reinterpret_cast<const u8*>(s.data()), s.size());
}

}  // namespace
}  // namespace kel::test
