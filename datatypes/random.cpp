// Random generator.
#include "datatypes/random.h"

#include "runtime/errors.h"
#include "runtime/platform.h"

namespace kel::dt {

namespace {

constexpr int N = 624;
constexpr int M = 397;
i32 g_state[N];
int g_index = N;

// Arithmetic shift right: the sign bit is copied into the vacated bits.
inline i32 sar(i32 v, int n) { return v >> n; }

void twist() {
    for (int k = 0; k < N; ++k) {
        i32 y = i32((u32(g_state[k]) & 0x80000000u) | (u32(g_state[(k + 1) % N]) & 0x7FFFFFFFu));
        i32 v = g_state[(k + M) % N] ^ sar(y, 1);
        if (y & 1) v ^= i32(0x9908B0DFu);
        g_state[k] = v;
    }
    g_index = 0;
}

}  // namespace

void random_init() { random_seed(19650218u); }

void random_seed(u32 seed) {
    g_state[0] = i32(seed);
    for (int i = 1; i < N; ++i) {
        i32 prev = g_state[i - 1];
        g_state[i] = i32(1812433253u * u32(prev ^ sar(prev, 30)) + u32(i));
    }
    // The first 624 outputs are the tempered seeded words themselves.
    g_index = 0;
}

i32 random_next() {
    if (g_index >= N) twist();
    i32 y = g_state[g_index++];
    y ^= sar(y, 11);
    y ^= i32((u32(y) << 7) & 0x9D2C5680u);
    y ^= i32((u32(y) << 15) & 0xEFC60000u);
    y ^= sar(y, 18);
    return y;
}

i32 random_secure() {
    u32 v = 0;
    // Without the system's generator there is no secure draw to give.
    if (!rt::secure_random_bytes(&v, sizeof v)) rt::raise_error(rt::Err::internal_feature_na);
    return i32(v & 0x7FFFFFFFu);
}

i32 random_int(bool secure, i32 n) {
    if (n == 0) return 0;
    auto draw = [secure] { return secure ? random_secure() : random_next(); };
    if (n == i32(0x80000000u)) return ~draw();
    bool negative = n < 0;
    if (negative) n = -n;
    i32 limit = 2147483647 / n;
    i64 bound = i64(n) * limit;
    i32 r;
    do r = draw();
    while (r >= bound);
    i32 result = r % n + 1;
    return negative ? -result : result;
}

}  // namespace kel::dt
