#include "app/console_driver.h"

#include <atomic>
#include <chrono>

#include "app/console_benchmark.h"
#include "app/options.h"
#include "foundation/console.h"
#include "foundation/feed.h"
#include "foundation/log.h"
#include "foundation/text.h"
#include "driver/driver_clean.h"

namespace {

// Download progress on the console's rewritable row; everything else goes through the log.
class ConsoleDriverFeed : public Feed {
public:
    explicit ConsoleDriverFeed(uint64_t total) : total_(total) {}
    void System(const SystemView&) override {}
    void Stage(const std::wstring&, const std::wstring&) override {}
    void Progress(double fraction, double, double remaining) override {
        const auto now = std::chrono::steady_clock::now();
        if (fraction < 1.0 && now - shown_ < std::chrono::milliseconds(250)) return;
        shown_ = now;
        std::wstring row = FormatText(L"  %d%%", static_cast<int>(fraction * 100));
        if (total_ > 0) {
            row += L"   " + FormatSize(static_cast<uint64_t>(fraction * static_cast<double>(total_))) + L"  of  " + FormatSize(total_);
        }
        if (remaining > 0) row += FormatText(L"   ~%d s left", static_cast<int>(remaining + 0.5));
        ShowProgress(row);
    }
    void LogLine(const std::wstring&) override {}
    void Baseline(const StatsBrief&, uint32_t) override {}
    void Sample(uint32_t, double, bool) override {}
    void SweepTable(const std::vector<CandidateSummary>&, const std::vector<double>&, int, int, int, int, int, int, int,
                    int) override {}
    void VerificationTable(const std::vector<CandidateSummary>&, int, int) override {}
    void Explanation(const std::wstring&, const std::wstring&) override {}
    void Items(const std::vector<TweakItem>&) override {}
    bool CancelQuery() override { return false; }

private:
    uint64_t total_;
    std::chrono::steady_clock::time_point shown_{};
};

void PrintOffer(const GpuDriverOffer& offer) {
    if (!offer.adapterName.empty()) LogInfo(L"Display adapter: " + offer.adapterName);
    if (!offer.currentDriver.empty()) LogInfo(L"Installed: " + offer.currentDriver);
    if (offer.found) {
        LogInfo(L"Published: " + offer.packageName + (offer.version.empty() ? L"" : L" " + offer.version));
        LogInfo(L"Package: " + offer.url);
        LogInfo(L"Size: " + (offer.size != 0 ? FormatSize(offer.size) : std::wstring(L"not listed")));
        LogInfo(offer.notes);
        LogInfo(offer.description);
    }
    // Without an adapter the lookup has already said why.
    if (!offer.error.empty() && !offer.adapterName.empty()) LogError(offer.error);
}

}  // namespace

int ConsoleCheckDriver(const DriverTools& tools, Json* document) {
    const std::atomic<bool> stop{false};
    const GpuDriverOffer offer = FindDriverOffer(tools, nullptr, stop);
    PrintOffer(offer);
    LogInfo(offer.found ? L"Nothing was downloaded or installed." : L"No driver package was found for this PC.");
    if (document != nullptr) {
        const auto text = [](const std::wstring& value) { return value.empty() ? Json() : Json(value); };
        document->Set("vendor", offer.vendor == GpuNvidia ? Json(L"nvidia") : offer.vendor == GpuAmd ? Json(L"amd") : Json());
        document->Set("adapter", text(offer.adapterName));
        document->Set("installed_driver", text(offer.currentDriver));
        document->Set("found", offer.found);
        document->Set("downloadable", offer.Downloadable());
        document->Set("laptop", offer.laptop);
        document->Set("version", text(offer.version));
        document->Set("package", text(offer.packageName));
        document->Set("url", text(offer.url));
        document->Set("size_bytes", offer.size != 0 ? Json(offer.size) : Json());
        document->Set("sha256", text(offer.sha256));
        document->Set("disk_space_ok", offer.spaceOk);
        document->Set("notes", text(offer.notes));
    }
    return offer.found ? 0 : 1;
}

int ConsoleApplyDriver(const Options& options, const DriverTools& tools) {
    const std::atomic<bool> stop{false};
    GpuDriverOffer offer = FindDriverOffer(tools, nullptr, stop);
    PrintOffer(offer);
    if (!offer.Downloadable()) {
        LogInfo(L"No vendor package can be installed from here. Nothing was changed.");
        return 1;
    }
    if (!options.yes &&
        !Confirm(options,
                 L"Download " + offer.packageName + (offer.version.empty() ? L"" : L" " + offer.version) +
                     L" and install only its display driver? The display will flicker and a restart is required afterward.",
                 false)) {
        LogInfo(L"The driver was not installed. Re-run with --apply-driver --yes to install it without asking.");
        return 1;
    }
    ConsoleDriverFeed feed(offer.size);
    const Outcome downloaded = DownloadGpuDriver(tools, &feed, offer, stop);
    ClearProgress();
    if (!downloaded.Ok()) {
        LogError(downloaded.WasStopped() ? std::wstring(L"Stopped.") : downloaded.Error());
        return 1;
    }
    if (!InstallGpuDriver(tools, &feed, offer).Ok()) return 1;  // the install logged its error
    LogInfo(L"The trimmed driver is installed. Restart Windows before it is fully in use.");
    return 0;
}
