// Writes a 128 KiB demo image, ours and not any drive's firmware: a recognisable head, the two
// version words where the emulated drive is told to read them, and a deterministic pattern.
//   make_demo_image OUT MAJOR MINOR [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t ImageSize = 131072;
constexpr size_t VersionOffset = 0x100;   // where the demo drive reads its version

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: make_demo_image OUT MAJOR MINOR [SEED]\n");
        return 2;
    }
    const unsigned major = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 0));
    const unsigned minor = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 0));
    unsigned seed = argc == 5 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 0)) : major * 1000 + minor;

    std::vector<unsigned char> image(ImageSize);
    for (unsigned char& b : image) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<unsigned char>(seed >> 16);
    }
    char head[64];
    std::snprintf(head, sizeof head, "FLASHUPGRADE DEMO IMAGE %u.%u", major, minor);
    std::memset(image.data(), 0, 64);
    std::memcpy(image.data(), head, std::strlen(head));
    image[VersionOffset] = static_cast<unsigned char>(major);
    image[VersionOffset + 1] = static_cast<unsigned char>(major >> 8);
    image[VersionOffset + 2] = static_cast<unsigned char>(minor);
    image[VersionOffset + 3] = static_cast<unsigned char>(minor >> 8);

    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(image.data(), 1, image.size(), out) != image.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "make_demo_image: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
