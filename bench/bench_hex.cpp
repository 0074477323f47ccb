// Intel HEX speed: parse and write an 8 MiB image, load and save it through the
// buffer commands, and convert the same file with srec_cat for comparison.
// Prints figures; no pass/fail.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/app/Controller.h"
#include "core/buffers/ImageFile.h"

namespace {

using Clock = std::chrono::steady_clock;

struct SilentUi : zelko::UserInterface {
    void ShowStatusLine(const std::string&) override {}
    void ShowBox(const std::string& text, const std::string&, zelko::BoxIcon) override
    {
        std::fprintf(stderr, "box: %s\n", text.c_str());
    }
    bool AskYesNo(const std::string&, const std::string&, zelko::BoxIcon, bool) override { return false; }
    bool AskOkCancel(const std::string&, const std::string&) override { return false; }
};

// Best of `runs` wall-clock times of f(), in seconds.
template <typename F>
double Best(int runs, F&& f)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

double MB(size_t bytes) { return static_cast<double>(bytes) / 1e6; }

}  // namespace

int main()
{
    using namespace zelko;
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zelko-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string hexPath = (dir / "image.hex").string();
    const std::string binPath = (dir / "zelko.bin").string();
    const std::string srecPath = (dir / "srec.bin").string();

    std::vector<uint8_t> image(kImageLimit);
    std::mt19937 rng(1);
    for (auto& b : image)
        b = static_cast<uint8_t>(rng());

    std::string text;
    const double tWrite = Best(5, [&] {
        text.clear();
        WriteIntelHex(image.data(), image.size(), text);
    });
    {
        std::FILE* f = std::fopen(hexPath.c_str(), "wb");
        if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
            std::fprintf(stderr, "cannot write %s\n", hexPath.c_str());
            return 1;
        }
        std::fclose(f);
    }

    std::vector<uint8_t> parsed;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const double tParse = Best(5, [&] { ParseIntelHex(bytes, text.size(), nullptr, parsed); });
    if (parsed != image) {
        std::fprintf(stderr, "round trip failed\n");
        return 1;
    }

    SilentUi ui;
    Controller controller(ui);
    MemoryBuffer& buffer = controller.flashBuffer;
    const double tLoad = Best(3, [&] { controller.LoadFile(buffer, hexPath); });
    const double tSaveHex = Best(3, [&] { controller.SaveFile(buffer, (dir / "saved.hex").string()); });
    const double tConvert = Best(3, [&] {
        controller.LoadFile(buffer, hexPath);
        controller.SaveFile(buffer, binPath);
    });

    std::printf("Intel HEX, %zu-byte image, %zu bytes of text\n", image.size(), text.size());
    std::printf("  parse (in memory)      %8.1f ms  %7.1f MB/s of text\n", tParse * 1e3, MB(text.size()) / tParse);
    std::printf("  write (in memory)      %8.1f ms  %7.1f MB/s of text\n", tWrite * 1e3, MB(text.size()) / tWrite);
    std::printf("  LoadFile               %8.1f ms  %7.1f MB/s of text\n", tLoad * 1e3, MB(text.size()) / tLoad);
    std::printf("  SaveFile (.hex)        %8.1f ms  %7.1f MB/s of text\n", tSaveHex * 1e3, MB(text.size()) / tSaveHex);
    std::printf("  convert .hex -> .bin   %8.1f ms\n", tConvert * 1e3);

    const std::string cmd = "srec_cat '" + hexPath + "' -intel -o '" + srecPath + "' -binary";
    if (std::system("srec_cat -version >/dev/null 2>&1") == 0) {
        const double tSrec = Best(3, [&] {
            if (std::system(cmd.c_str()) != 0)
                std::fprintf(stderr, "srec_cat failed\n");
        });
        std::printf("  srec_cat .hex -> .bin  %8.1f ms\n", tSrec * 1e3);
        std::printf("  srec_cat / zelko       %8.1f x\n", tSrec / tConvert);
        std::error_code ec;
        if (fs::file_size(srecPath, ec) != fs::file_size(binPath, ec))
            std::printf("  (note: the two binaries differ in size)\n");
    } else {
        std::printf("  srec_cat not installed: no comparison\n");
    }
    fs::remove_all(dir);
    return 0;
}
