// Runs a fuzz target over files, without libFuzzer: each argument is an
// input file or a folder of them (the corpus, the kept crashes). The target
// aborts on a fault, so reaching the end means that every input passed.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static void run_file(const std::string &path, int &count) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    ++count;
}

static void run_path(const std::string &path, int &count) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return;
    if (!S_ISDIR(info.st_mode)) {
        run_file(path, count);
        return;
    }
    DIR *dir = opendir(path.c_str());
    while (dir != nullptr) {
        struct dirent *entry = readdir(dir);
        if (entry == nullptr)
            break;
        if (entry->d_name[0] != '.')
            run_path(path + "/" + entry->d_name, count);
    }
    if (dir != nullptr)
        closedir(dir);
}

int main(int argc, char **argv) {
    int count = 0;
    for (int i = 1; i < argc; ++i)
        run_path(argv[i], count);
    printf("%d inputs passed\n", count);
    // A corpus that went missing would pass without testing anything.
    return count > 0 ? 0 : 1;
}
