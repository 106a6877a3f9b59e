// Replays a fuzz corpus through a fuzz target without libFuzzer, so the
// corpus runs as an ordinary test in every build.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

static int replay(const std::string& path, int& count)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return 1;
    }
    if (S_ISDIR(st.st_mode)) {
        DIR* dir = opendir(path.c_str());
        if (!dir)
            return 1;
        std::vector<std::string> names;
        while (dirent* de = readdir(dir)) {
            if (de->d_name[0] != '.')
                names.emplace_back(de->d_name);
        }
        closedir(dir);
        int failures = 0;
        for (const auto& name : names)
            failures += replay(path + "/" + name, count);
        return failures;
    }
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    ++count;
    return 0;
}

int main(int argc, char** argv)
{
    int count = 0;
    int failures = 0;
    for (int i = 1; i < argc; ++i)
        failures += replay(argv[i], count);
    std::printf("replayed %d inputs\n", count);
    return failures == 0 && count > 0 ? 0 : 1;
}
