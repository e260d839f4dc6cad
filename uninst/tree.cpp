#include "tree.h"

#include "platform.h"

static const char search_pattern[] = "*.*";
static const char parent_dir[] = "..";

// Set once a move back up by ".." has failed. The current directory is then
// not the one that the open searches list, so every name they report would
// act on some other directory (perhaps one moved out of the tree while it was
// being emptied): each level stops at once instead.
static bool lost_way = false;

static bool is_directory(const WIN32_FIND_DATAA &entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A link (symbolic link or junction) is never entered: emptying it would
// empty its target, which may lie anywhere. Only the link itself goes.
static bool is_link(const WIN32_FIND_DATAA &entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

static void delete_subdirectory(const char *name) {
    if (!SetCurrentDirectoryA(name))
        return;
    delete_tree();
    if (lost_way || !SetCurrentDirectoryA(parent_dir)) {
        lost_way = true;
        return;
    }
    RemoveDirectoryA(name);
}

static void delete_entry(const WIN32_FIND_DATAA &entry) {
    if (!is_directory(entry))
        DeleteFileA(entry.cFileName);
    else if (entry.cFileName[0] == '.')
        return; // ".", ".." and every other directory named with a leading full stop stay.
    else if (is_link(entry))
        RemoveDirectoryA(entry.cFileName);
    else
        delete_subdirectory(entry.cFileName);
}

void delete_tree() {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(search_pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    bool done = false;
    while (!done && !lost_way) {
        delete_entry(entry);
        if (!FindNextFileA(search, &entry))
            done = true;
    }
    FindClose(search);
}
