#pragma once
// The window's figures (gui_bench.cpp).
void GuiFigures();
