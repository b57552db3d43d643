// Turns the icon's XPM images into the files that install and Windows builds need: one PNG per
// size for the desktop's icon theme, and one ICO with the images at 32 bits per pixel, the depth
// of the larger ones and of every display today, with their transparency as alpha. libXpm reads
// the images and libpng writes the PNGs; the ICO is written here, as no library at hand writes one.
// PNG files given after the images (the scalable icon rendered at the larger sizes) go into the
// ICO as they are: every 64-bit Windows reads PNG images in icons, and 256 pixels can only be one.
//
//   ostrim_write_icons OUTPUT_DIR IMAGE.xpm... [RENDERED.png...]

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <X11/xpm.h>
#include <png.h>

namespace {

// The standard 16-colour palette, in the order Windows gives its indexes.
constexpr std::array<std::uint32_t, 16> Palette {0x000000, 0x800000, 0x008000, 0x808000, 0x000080,
    0x800080, 0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF,
    0x00FFFF, 0xFFFFFF};

// Each pixel is a palette index, or nothing where the image is transparent.
struct Image
{
    int width = 0;
    int height = 0;
    std::vector<std::optional<int>> pixels;

    std::optional<int> At(int x, int y) const
    {
        return pixels[static_cast<std::size_t>(y * width + x)];
    }
};

std::optional<int> PaletteIndex(std::uint32_t rgb)
{
    for (std::size_t index = 0; index < Palette.size(); ++index) {
        if (Palette[index] == rgb)
            return static_cast<int>(index);
    }
    return std::nullopt;
}

// An XPM colour as the images write it: "None", or "#RRGGBB" naming one of the 16 colours they
// are drawn in. Anything else is a slip in the drawing, so it stops the build.
bool ReadColour(const char *colour, std::optional<int> &index)
{
    const std::string_view text = colour ? colour : "";
    if (text == "None" || text == "none") {
        index.reset();
        return true;
    }
    std::uint32_t rgb = 0;
    const char *end = text.data() + text.size();
    if (text.size() != 7 || text[0] != '#'
        || std::from_chars(text.data() + 1, end, rgb, 16).ptr != end)
        return false;
    index = PaletteIndex(rgb);
    return index.has_value();
}

std::optional<Image> ReadXpm(const char *path)
{
    XpmImage xpm {};
    if (const int status = XpmReadFileToXpmImage(path, &xpm, nullptr); status != XpmSuccess) {
        std::fprintf(stderr, "%s: cannot read the image: %s\n", path, XpmGetErrorString(status));
        return std::nullopt;
    }
    std::optional<Image> image(
        Image {static_cast<int>(xpm.width), static_cast<int>(xpm.height), {}});
    std::vector<std::optional<int>> colours(xpm.ncolors);
    for (unsigned int c = 0; c < xpm.ncolors && image; ++c) {
        if (!ReadColour(xpm.colorTable[c].c_color, colours[c])) {
            std::fprintf(stderr, "%s: colour \"%s\" is not one of the 16 colours\n", path,
                xpm.colorTable[c].c_color ? xpm.colorTable[c].c_color : "");
            image.reset();
        }
    }
    if (image) {
        for (unsigned int i = 0; i < xpm.width * xpm.height; ++i)
            image->pixels.push_back(colours[xpm.data[i]]);
    }
    XpmFreeXpmImage(&xpm);
    return image;
}

bool WritePng(const Image &image, const std::string &path)
{
    std::vector<std::uint8_t> rgba;
    for (const std::optional<int> &pixel : image.pixels) {
        const std::uint32_t rgb = pixel ? Palette[static_cast<std::size_t>(*pixel)] : 0;
        rgba.insert(rgba.end(),
            {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                static_cast<std::uint8_t>(rgb), static_cast<std::uint8_t>(pixel ? 0xFF : 0)});
    }
    png_image png {};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGBA;
    if (png_image_write_to_file(&png, path.c_str(), 0, rgba.data(), 0, nullptr) == 0) {
        std::fprintf(stderr, "%s: cannot write: %s\n", path.c_str(), png.message);
        return false;
    }
    return true;
}

class Bytes
{
public:
    template<typename T>
    void Append(T value)
    {
        for (std::size_t i = 0; i < sizeof value; ++i)
            m_bytes.push_back(static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i)));
    }
    void Append(const Bytes &other) { m_bytes += other.m_bytes; }
    void Append(const std::string &bytes) { m_bytes += bytes; }
    std::size_t Size() const { return m_bytes.size(); }
    const std::string &Data() const { return m_bytes; }

private:
    std::string m_bytes;
};

int RowBytes(int bitsPerPixel, int width)
{
    return (bitsPerPixel * width + 31) / 32 * 4;
}

// One image as an ICO entry holds it: a bitmap header of twice the height, the pixels as blue,
// green, red and alpha, and the transparency mask that Windows still reads beside the alpha, both
// bottom row first.
Bytes IconImage(const Image &image)
{
    const int colourRow = RowBytes(32, image.width);
    const int maskRow = RowBytes(1, image.width);

    Bytes bytes;
    bytes.Append<std::uint32_t>(40);
    bytes.Append<std::int32_t>(image.width);
    bytes.Append<std::int32_t>(image.height * 2);
    bytes.Append<std::uint16_t>(1); // planes
    bytes.Append<std::uint16_t>(32); // bits per pixel
    bytes.Append<std::uint32_t>(0); // no compression
    bytes.Append<std::uint32_t>(static_cast<std::uint32_t>((colourRow + maskRow) * image.height));
    bytes.Append<std::int32_t>(0);
    bytes.Append<std::int32_t>(0);
    bytes.Append<std::uint32_t>(0); // no palette
    bytes.Append<std::uint32_t>(0);
    for (int y = image.height - 1; y >= 0; --y) {
        for (int x = 0; x < image.width; ++x) {
            const std::optional<int> pixel = image.At(x, y);
            const std::uint32_t rgb = pixel ? Palette[static_cast<std::size_t>(*pixel)] : 0;
            bytes.Append<std::uint32_t>(
                rgb | (pixel ? 0xFF000000u : 0u)); // blue, green, red, alpha
        }
    }
    for (int y = image.height - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(maskRow));
        for (int x = 0; x < image.width; ++x) {
            if (!image.At(x, y))
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
        for (const std::uint8_t byte : row)
            bytes.Append(byte);
    }
    return bytes;
}

// One image of the ICO: its size, its colours as the directory states them, and its bytes.
struct IconEntry
{
    int width = 0;
    int height = 0;
    int colours = 0; // 0: more than 256
    int bitsPerPixel = 0;
    Bytes bytes;
};

IconEntry DrawnEntry(const Image &image)
{
    return {image.width, image.height, 0, 32, IconImage(image)};
}

std::uint32_t BigEndian32(const std::string &bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[i]);
    return value;
}

// A PNG file as it is, its size read from its header chunk.
std::optional<IconEntry> PngEntry(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes {std::istreambuf_iterator<char>(in), {}};
    constexpr std::string_view Signature = "\x89PNG\r\n\x1a\n";
    if (bytes.size() < 24 || !bytes.starts_with(Signature) || bytes.substr(12, 4) != "IHDR") {
        std::fprintf(stderr, "%s: not a PNG image\n", path);
        return std::nullopt;
    }
    IconEntry entry {static_cast<int>(BigEndian32(bytes, 16)),
        static_cast<int>(BigEndian32(bytes, 20)), 0, 32, {}};
    entry.bytes.Append(bytes);
    return entry;
}

Bytes IconFile(const std::vector<IconEntry> &entries)
{
    Bytes header;
    header.Append<std::uint16_t>(0);
    header.Append<std::uint16_t>(1); // an icon, not a cursor
    header.Append<std::uint16_t>(static_cast<std::uint16_t>(entries.size()));
    Bytes data;
    auto offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (const IconEntry &image : entries) {
        const Bytes &entry = image.bytes;
        header.Append(static_cast<std::uint8_t>(image.width % 256));
        header.Append(static_cast<std::uint8_t>(image.height % 256));
        header.Append(static_cast<std::uint8_t>(image.colours));
        header.Append<std::uint8_t>(0);
        header.Append<std::uint16_t>(1); // planes
        header.Append(static_cast<std::uint16_t>(image.bitsPerPixel));
        header.Append(static_cast<std::uint32_t>(entry.Size()));
        header.Append(offset);
        offset += static_cast<std::uint32_t>(entry.Size());
        data.Append(entry);
    }
    header.Append(data);
    return header;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR IMAGE.xpm... [RENDERED.png...]\n", argv[0]);
        return 2;
    }
    const std::string outputDir = argv[1];
    std::vector<IconEntry> entries;
    for (int arg = 2; arg < argc; ++arg) {
        if (std::string_view(argv[arg]).ends_with(".png")) {
            std::optional<IconEntry> rendered = PngEntry(argv[arg]);
            if (!rendered)
                return 1;
            entries.push_back(std::move(*rendered));
            continue;
        }
        const std::optional<Image> image = ReadXpm(argv[arg]);
        if (!image)
            return 1;
        if (!WritePng(*image, outputDir + "/ostrim-" + std::to_string(image->width) + ".png"))
            return 1;
        entries.push_back(DrawnEntry(*image));
    }
    const std::string ico = outputDir + "/ostrim.ico";
    std::ofstream out(ico, std::ios::binary);
    out << IconFile(entries).Data();
    if (!out.flush()) {
        std::fprintf(stderr, "%s: cannot write\n", ico.c_str());
        return 1;
    }
    return 0;
}
