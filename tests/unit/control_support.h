// Table-driven checks for the control, loop and value natives: each case is source text and
// what `run` answers for it (the molded result, or the error report's first line).
#pragma once
#include <string>

#include "eval_support.h"
#include "output_capture.h"

namespace kel::test::eval {

// The result, or for an error its first line ("*** Script Error: ...").
inline std::string outcome(const char* source) {
    std::string out = run(source);
    if (out.rfind("***", 0) == 0) {
        size_t eol = out.find('\n');
        if (eol != std::string::npos) out.erase(eol);
    }
    return out;
}

inline void check_cases(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(outcome(c.source), c.expected) << c.source;
}

// What the source writes to the console, followed by " => " and its outcome.
inline std::string printed(const char* source) {
    std::string result;
    std::string text;
    {
        OutputCapture capture;
        result = outcome(source);
        rt::console_flush();
        text = capture.finish();
    }
    return text + " => " + result;
}

}  // namespace kel::test::eval
