// Runtime boot: brings the runtime from nothing to the state in which code can run, then
// runs the language-level library.
#pragma once

namespace kel::console {

// Every service's tables, every datatype, the stacks. Idempotent per process.
void runtime_init();

// The interpreter's start, then every embedded library source in include order, each with
// the routines it names bound around it. The collector is on from here. Idempotent.
void boot_library();

// Evaluates one embedded source (its header skipped). An exit that escapes the source's top
// level (break, return, throw ...) has no catcher: runtime error 95.
void run_boot_source(const char* name, const char* text, unsigned long length);

// Hands the process to the console: cli-console-ctx/launch, which runs the script named on
// the command line or the read-evaluate-print loop. Returns when launch returns.
void launch_console();

}  // namespace kel::console
