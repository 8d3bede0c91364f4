// The Lattice's data from saved scans, and the shader's arithmetic and source as the compilers
// get them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <cstdio>
#include <string>

#include "foundation/text.h"
#include "gui/lattice_model.h"
#include "gui/lattice_renderer.h"
#include "gui/lattice_source.h"
#include "support/wait.h"
#include "gui/shader_math.h"
#include "support/test_support.h"

namespace {

// A scan row as the benchmark writes it: phase, requested, actual, requested ms, then eleven
// back-to-back and eleven idle-gap fields (n, median, mean, stdev, p1, p95, p99, max, late %, score, clean).
std::string ScanRow(int loopN, double loopMean, double loopStdev, double loopLate, int idleN, double idleMean,
                    double idleStdev, double idleLate) {
    char row[256];
    std::snprintf(row, sizeof(row),
                  "sweep,5000,5000,0.5000,%d,0.1,%.4f,%.4f,0,0,0,0,%.2f,0,1,%d,0.1,%.4f,%.4f,0,0,0,0,%.2f,0,1\n", loopN,
                  loopMean, loopStdev, loopLate, idleN, idleMean, idleStdev, idleLate);
    return row;
}

uint32_t ColumnTotal(const LatticeData& lattice, int column, uint16_t LatticeCell::*counter) {
    uint32_t total = 0;
    for (int row = 0; row < kLatticeSize; ++row) total += lattice.At(row, column).*counter;
    return total;
}

void WriteText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void SetWriteTime(const std::wstring& path, int minutesAgo) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= static_cast<ULONGLONG>(minutesAgo) * 60 * 10000000;
    const FILETIME when{t.LowPart, t.HighPart};
    SetFileTime(file, nullptr, nullptr, &when);
    CloseHandle(file);
}

}  // namespace

TEST(SavedScan, EachRowAddsUpToFortyWeightedPointsPerPattern) {
    LatticeData lattice;
    // Three samples: three points of weight 1. Four hundred: forty points of weight 10.
    ASSERT_TRUE(LatticeFromScanText(ScanRow(3, 0.3, 0.05, 0, 400, 0.6, 0.1, 25), lattice));
    EXPECT_EQ(ColumnTotal(lattice, 0, &LatticeCell::all), 3u);
    EXPECT_EQ(ColumnTotal(lattice, 0, &LatticeCell::loop), 3u);
    EXPECT_EQ(ColumnTotal(lattice, 0, &LatticeCell::late), 0u);
    const int idleColumn = LateColumn(0.25);
    EXPECT_EQ(ColumnTotal(lattice, idleColumn, &LatticeCell::all), 400u);
    EXPECT_EQ(ColumnTotal(lattice, idleColumn, &LatticeCell::idle), 400u);
    EXPECT_EQ(ColumnTotal(lattice, idleColumn, &LatticeCell::late), 200u) << "late samples count half their weight";
    EXPECT_FLOAT_EQ(lattice.columns[idleColumn].loopMean, LatencyAxis(0.6));
    EXPECT_FLOAT_EQ(lattice.columns[idleColumn].p99, LatencyAxis(0.7));
    EXPECT_FLOAT_EQ(lattice.columns[idleColumn].lateFraction, 0.25f);
    EXPECT_EQ(lattice.columns[idleColumn].presence, 1);
    EXPECT_EQ(lattice.columns[5].presence, 0);
}

TEST(SavedScan, AnythingMalformedIsSkippedAndNothingUsableMeansEmpty) {
    LatticeData lattice;
    EXPECT_FALSE(LatticeFromScanText("", lattice));
    EXPECT_FALSE(LatticeFromScanText("phase,requested,actual\nverify,1,2,3\n", lattice));
    // Too few fields, a number that is not one, infinity, and a header row: all skipped.
    const std::string good = ScanRow(20, 0.2, 0.02, 0, 0, 0, 0, 0);
    const std::string text = "sweep,1,2,3\n" + std::string("sweep,5000,5000,0.5,x") + good.substr(good.find(",0.1,")) +
                             "sweep,5000,5000,0.5,inf" + good.substr(good.find(",0.1,")) + good;
    ASSERT_TRUE(LatticeFromScanText(text, lattice));
    EXPECT_EQ(ColumnTotal(lattice, 0, &LatticeCell::all), 20u);
    // Cut in the middle of its last row: the complete rows still count.
    ASSERT_TRUE(LatticeFromScanText(good + good.substr(0, 30), lattice));
    EXPECT_EQ(ColumnTotal(lattice, 0, &LatticeCell::all), 20u);
    // Absurd counts saturate instead of wrapping.
    ASSERT_TRUE(LatticeFromScanText(ScanRow(2000000000, 0.2, 0.0, 100, 0, 0, 0, 0), lattice));
    for (const LatticeCell& cell : lattice.cells) ASSERT_LE(cell.all, 65535);
}

TEST(SavedScan, TheNewestFileIsLoadedAndOversizedOrMissingOnesLeaveTheChartEmpty) {
    TempFolder folder;
    LatticeData lattice;
    std::wstring name;
    EXPECT_FALSE(LoadLatestScan(folder.Path(), lattice, name));
    EXPECT_TRUE(name.empty());
    EXPECT_FALSE(LoadLatestScan(folder.File(L"missing"), lattice, name));

    WriteText(folder.File(L"benchmark-20260101-000000.csv"), ScanRow(5, 0.2, 0.02, 0, 0, 0, 0, 0));
    WriteText(folder.File(L"benchmark-20260102-000000.csv"), ScanRow(7, 0.2, 0.02, 0, 0, 0, 0, 0));
    WriteText(folder.File(L"other.csv"), ScanRow(9, 0.2, 0.02, 0, 0, 0, 0, 0));
    SetWriteTime(folder.File(L"benchmark-20260101-000000.csv"), 1);
    SetWriteTime(folder.File(L"benchmark-20260102-000000.csv"), 30);
    SetWriteTime(folder.File(L"other.csv"), 0);
    ASSERT_TRUE(LoadLatestScan(folder.Path(), lattice, name));
    EXPECT_EQ(name, L"benchmark-20260101-000000.csv") << "the newest by last write, not by name";
    EXPECT_EQ(ColumnTotal(lattice, 0, &LatticeCell::all), 5u);

    // The newest is empty: it is named but the chart stays empty.
    WriteText(folder.File(L"benchmark-20260103-000000.csv"), "");
    ASSERT_FALSE(LoadLatestScan(folder.Path(), lattice, name));
    EXPECT_EQ(name, L"benchmark-20260103-000000.csv");
    EXPECT_EQ(ColumnTotal(lattice, 0, &LatticeCell::all), 0u);

    // Larger than any scan: not read at all.
    const std::wstring huge = folder.File(L"benchmark-20260104-000000.csv");
    HANDLE file = CreateFileW(huge.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = static_cast<LONGLONG>(kLargestScanBytes) + 1;
    ASSERT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);
    EXPECT_FALSE(LoadLatestScan(folder.Path(), lattice, name));
    EXPECT_EQ(name, L"benchmark-20260104-000000.csv");
}

TEST(ShaderMath, TheStandInsMatchTheRealFunctionsToAboutOneThousandth) {
    double worst = 0;
    // The camera's angles grow with the animation clock: hours of it.
    for (double x = -4000; x <= 4000; x += 0.0137) {
        worst = std::max(worst, std::abs(shader_math::Sin(x) - std::sin(x)));
        worst = std::max(worst, std::abs(shader_math::Cos(x) - std::cos(x)));
    }
    EXPECT_LT(worst, 1e-3) << "sin/cos";

    worst = 0;
    for (double x = 0; x <= 300; x += 0.001) worst = std::max(worst, std::abs(shader_math::ExpNeg(x) - std::exp(-x)));
    EXPECT_LT(worst, 1.2e-3) << "exp(-x)";

    // The voxel scale: saturate(ln n / ln 64) for the height, saturate(ln n / ln 48) for the colour.
    worst = 0;
    for (double n = 1; n <= 65535; n += 1) {
        const double lg = shader_math::Log2Count64(n);
        worst = std::max(worst, std::abs(std::clamp(lg / 6, 0.0, 1.0) - std::clamp(std::log(n) / std::log(64.0), 0.0, 1.0)));
        worst = std::max(worst, std::abs(std::clamp(lg / std::log2(48.0), 0.0, 1.0) -
                                         std::clamp(std::log(n) / std::log(48.0), 0.0, 1.0)));
    }
    EXPECT_LT(worst, 1e-3) << "log scale";
}

TEST(LatticeSource, TheBuiltShaderIsStraightLineCodeWineCanCompile) {
    const std::string source =
        "#define A 1\nfloat4 ps() {\n    // STEP BEGIN\n    x = x + 1;\n    // STEP END\n    return x;\n}\n";
    const std::string built = BuildLatticeSource(source, 3);
    EXPECT_NE(built.find("#define QV_SIN3 "), std::string::npos);
    EXPECT_NE(built.find("#define QV_LOG5 "), std::string::npos);
    size_t copies = 0;
    for (size_t at = built.find("x = x + 1;"); at != std::string::npos; at = built.find("x = x + 1;", at + 1)) ++copies;
    EXPECT_EQ(copies, 3u);
    EXPECT_NE(built.find("    return x;"), std::string::npos);
    EXPECT_TRUE(BuildLatticeSource("float4 ps() { return 0; }", 3).empty()) << "no step markers";

    // The shipped source, built as the program builds it, uses nothing Wine's compiler rejects or
    // silently miscompiles.
    const std::string text = LatticeShaderText();
    ASSERT_FALSE(text.empty());
    std::string full;  // without its comments, which may name what the code must not use
    for (size_t at = 0; at < text.size();) {
        const size_t comment = text.find("//", at);
        full.append(text, at, comment == std::string::npos ? std::string::npos : comment - at);
        if (comment == std::string::npos) break;
        at = text.find('\n', comment);
        if (at == std::string::npos) break;
    }
    EXPECT_NE(full.find("float4 compose("), std::string::npos);
    for (const char* banned : {"sin(", "cos(", "exp(", "exp2(", "log(", "log2(", "sqrt(", "rsqrt(", "frac(", "step(",
                               "smoothstep(", "fmod(", "sign(", "for (", "for(", "while", "break", "discard",
                               "[unroll]", "[loop]", "?"}) {
        EXPECT_EQ(full.find(banned), std::string::npos) << banned;
    }
    EXPECT_EQ(kLatticeStepsPerPass * kLatticePasses, kLatticeSteps);
}

namespace {

// A renderer that has compiled its shader and drawn once, with faults ready to be switched on.
bool ReadyRenderer(LatticeRenderer& renderer, LatticeFaults& faults, LatticeData& data) {
    renderer.SetFaults(&faults);
    renderer.Start();
    for (int i = 0; i < 600 && renderer.GetStatus() == LatticeRenderer::Status::Starting; ++i) Sleep(100);
    if (renderer.GetStatus() != LatticeRenderer::Status::Ready) return false;
    renderer.Submit(data, 0);
    return renderer.WaitFrame(60000);
}

}  // namespace

// A device that is gone (our own driver install removes it) fails every picture: the thread
// rests between attempts instead of retrying at once, makes a new device, and says plainly when
// it cannot.
TEST(LatticeRenderer, ALostDeviceIsNeverRetriedAtOnceAndWhatCannotBeMadeAgainIsUnavailable) {
    const auto data = std::make_unique<LatticeData>();
    {
        LatticeFaults faults;
        LatticeRenderer renderer;
        ASSERT_TRUE(ReadyRenderer(renderer, faults, *data));
        faults.failCreate.store(true);
        faults.failDraws.store(1000000);
        const int before = faults.attempts.load();
        renderer.Submit(*data, 1);
        // The rests between attempts are what is tested; how long the pictures take on a loaded
        // machine is not, so the wait is generous.
        EXPECT_TRUE(WaitUntil([&] { return renderer.GetStatus() == LatticeRenderer::Status::Unavailable; }, 60000, 50));
        Sleep(500);
        // Three failed pictures, then the failed attempt at a new device ends the thread.
        EXPECT_EQ(faults.attempts.load() - before, 3);
    }
    {
        // A device that can be made again takes over: the chart keeps moving.
        LatticeFaults faults;
        LatticeRenderer renderer;
        ASSERT_TRUE(ReadyRenderer(renderer, faults, *data));
        faults.failDraws.store(3);
        renderer.Submit(*data, 2);
        EXPECT_TRUE(renderer.WaitFrame(120000));
        EXPECT_EQ(renderer.GetStatus(), LatticeRenderer::Status::Ready);
    }
}
