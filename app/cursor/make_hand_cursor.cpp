// Writes the application's hand pointer, a 32 x 32 Windows cursor file (.cur) with a 32-bit colour
// image and its 1-bit mask, to the path given as the only argument. Run at build time so that the
// cursor lies beside the program.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The hand, pointing up with the index finger. '#' outline, '.' fill, anything else transparent.
// The hot spot is the tip of the finger.
const char* const kHand[32] = {
    "      ##                        ",
    "     #..#                       ",
    "     #..#                       ",
    "     #..#                       ",
    "     #..#                       ",
    "     #..###                     ",
    "     #..#..###                  ",
    "     #..#..#..##                ",
    "     #..#..#..#.#               ",
    " ### #..#..#..#..#              ",
    " #..##........#..#              ",
    " #...#...........#              ",
    "  #..#...........#              ",
    "   #.............#              ",
    "   #.............#              ",
    "    #............#              ",
    "    #...........#               ",
    "     #..........#               ",
    "     #.........#                ",
    "      #........#                ",
    "      #........#                ",
    "      ##########                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
    "                                ",
};
constexpr int kSize = 32;
constexpr int kHotX = 6, kHotY = 0;

void put16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back(v & 0xff);
  out.push_back((v >> 8) & 0xff);
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xffff);
  put16(out, v >> 16);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_hand_cursor OUTPUT.CUR\n");
    return 2;
  }
  const uint32_t colourBytes = kSize * kSize * 4;
  const uint32_t maskBytes = kSize * 4;  // 32 pixels = 4 bytes a row, already 4-byte aligned
  const uint32_t imageBytes = 40 + colourBytes + maskBytes;

  std::vector<uint8_t> out;
  put16(out, 0);  // reserved
  put16(out, 2);  // type: cursor
  put16(out, 1);  // one image
  out.push_back(kSize);
  out.push_back(kSize);
  out.push_back(0);  // colour count
  out.push_back(0);  // reserved
  put16(out, kHotX);
  put16(out, kHotY);
  put32(out, imageBytes);
  put32(out, 22);  // offset of the image

  put32(out, 40);         // header size
  put32(out, kSize);      // width
  put32(out, kSize * 2);  // height of colour and mask together
  put16(out, 1);          // planes
  put16(out, 32);         // bits a pixel
  put32(out, 0);          // no compression
  put32(out, colourBytes + maskBytes);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);

  for (int y = kSize - 1; y >= 0; --y) {  // rows bottom-up
    for (int x = 0; x < kSize; ++x) {
      char c = kHand[y][x];
      uint8_t v = c == '.' ? 255 : 0;
      uint8_t a = (c == '.' || c == '#') ? 255 : 0;
      out.push_back(v);
      out.push_back(v);
      out.push_back(v);
      out.push_back(a);
    }
  }
  for (int y = kSize - 1; y >= 0; --y) {
    uint32_t bits = 0;
    for (int x = 0; x < kSize; ++x) {
      char c = kHand[y][x];
      if (c != '.' && c != '#') bits |= 1u << (31 - x);  // 1 = transparent
    }
    out.push_back(bits >> 24);
    out.push_back((bits >> 16) & 0xff);
    out.push_back((bits >> 8) & 0xff);
    out.push_back(bits & 0xff);
  }

  FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : 1;
}
