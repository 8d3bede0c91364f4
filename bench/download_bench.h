#pragma once
// The vendor download's throughput against the local vendor server (download_bench.cpp).
void DownloadFigures();
