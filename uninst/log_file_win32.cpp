// The log's file on Windows: the C runtime opens it by its Windows path, in
// binary mode so that the log's own CR LF pairs pass unchanged, and shares it
// for reading and writing with every other opener.
#include <share.h>

#include "platform.h"

FILE *log_file_open(const char *windows_path, int truncate) {
    return _fsopen(windows_path, truncate ? "wb" : "ab", _SH_DENYNO);
}
