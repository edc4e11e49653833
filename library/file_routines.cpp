// Routines of the library's first source over the host's files: creating a folder and
// asking whether a path exists.
#include "host/files.h"
#include "library/routines.h"
#include "runtime/errors.h"

namespace kel::lib {

namespace {

constexpr const char* BASE_SOURCE = "library/base.kel";

// One folder (its parent must exist); the path stays in the result slot.
i64 create_dir(Cell* args) {
    if (!host::make_folder(&args[0])) rt::raise_error(rt::Err::access_no_create, &args[0]);
    return 0;
}

i64 exists_q(Cell* args) { return host::path_exists(&args[0]) ? 1 : 0; }

const RoutineDef create_dir_def{BASE_SOURCE, "create-dir", "\"Create the given directory\" path [file!]", create_dir,
                                RETURNS_NONE};
const RoutineDef exists_def{BASE_SOURCE, "exists?",
                            "\"Returns TRUE if the file exists\" path [file!] return: [logic!]", exists_q,
                            RETURNS_LOGIC};

}  // namespace

KEL_ROUTINE(create_dir_def);
KEL_ROUTINE(exists_def);

}  // namespace kel::lib
