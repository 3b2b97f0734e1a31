// Writes the Windows program's icon file from the pictures drawn in
// src/ui/Pictures.cpp: every size Windows asks for from 100 % to 200 %,
// 32-bit with alpha and the 1-bit mask older systems use.
//   make_ico OUTPUT.ico
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <vector>

#include "Pictures.h"

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// One icon image: a BITMAPINFOHEADER of twice the height, the colour rows
// bottom-up, then the mask rows (1: transparent), each padded to 4 bytes.
std::vector<std::uint8_t> IconImage(const pictures::Image& image) {
    std::vector<std::uint8_t> out;
    const int maskStride = (image.width + 31) / 32 * 4;
    Put32(out, 40);
    Put32(out, std::uint32_t(image.width));
    Put32(out, std::uint32_t(image.height * 2));
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, 0);
    Put32(out, std::uint32_t(image.width * image.height * 4 + maskStride * image.height));
    for (int i = 0; i < 4; ++i)
        Put32(out, 0);
    for (int y = image.height - 1; y >= 0; --y)
        for (int x = 0; x < image.width; ++x)
            Put32(out, image.pixels[std::size_t(y) * image.width + x]);  // BGRA in memory
    for (int y = image.height - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(std::size_t(maskStride), 0);
        for (int x = 0; x < image.width; ++x)
            if ((image.pixels[std::size_t(y) * image.width + x] >> 24) == 0)
                row[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_ico OUTPUT.ico\n");
        return 2;
    }
    const int sizes[] = {16, 20, 24, 32, 40, 48, 64};
    std::vector<std::vector<std::uint8_t>> images;
    for (int size : sizes)
        images.push_back(IconImage(pictures::ProgramIcon(size)));

    std::vector<std::uint8_t> file;
    Put16(file, 0);
    Put16(file, 1);  // an icon
    Put16(file, unsigned(images.size()));
    std::uint32_t offset = std::uint32_t(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        file.push_back(std::uint8_t(sizes[i]));
        file.push_back(std::uint8_t(sizes[i]));
        file.push_back(0);  // no palette
        file.push_back(0);
        Put16(file, 1);   // planes
        Put16(file, 32);  // bits a pixel
        Put32(file, std::uint32_t(images[i].size()));
        Put32(file, offset);
        offset += std::uint32_t(images[i].size());
    }
    for (const auto& image : images)
        file.insert(file.end(), image.begin(), image.end());

    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "make_ico: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
