#pragma once
// This program's own file, held open from the start of the process against writes, renames
// and deletes. The install and the startup guard copy the program to Program Files, where it
// runs as SYSTEM at every boot; they copy from this handle, so what they copy is the file that
// started, never one renamed into its path afterwards.
#include <string>

// Called first thing at start. Without it (or when the file could not be held), nothing is copied.
void HoldOwnImage();
bool OwnImageHeld();
// Lets go of the file: only for an update, which moves this very file aside just before the
// program ends. Nothing is copied from the image afterwards.
void ReleaseOwnImage();

// Copies the held image over the destination (through a temporary file beside it, then a
// replace). False with a sentence for the user in error.
bool CopyOwnImageTo(const std::wstring& destination, std::wstring& error);
// True when the file's bytes are exactly the held image's.
bool SameAsOwnImage(const std::wstring& path);

// The same for any file, for tests: a read handle that denies writes, renames and deletes.
void* OpenFileHeld(const std::wstring& path);
bool CopyHeldFile(void* source, const std::wstring& destination, std::wstring& error);
bool SameAsHeldFile(void* source, const std::wstring& path);
