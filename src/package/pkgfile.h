// Shared-read file access with 64-bit offsets through the C library, so the
// package code reads volumes beyond 2 GB on both Linux and Windows and can
// open the running executable while it is mapped.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

std::FILE* OpenSharedRead(const std::string& path);  // nullptr on failure
bool SeekTo(std::FILE* f, int64_t offset);           // from the start of the file
int64_t TellPos(std::FILE* f);                       // -1 on failure
int64_t FileSizeOf(std::FILE* f);                    // keeps the position; -1 on failure
// Reads exactly n bytes at the current position; false on a short read.
bool ReadExact(std::FILE* f, void* buf, size_t n);
// Little-endian 32-bit value at an absolute offset; false when it lies outside the file.
bool ReadU32At(std::FILE* f, int64_t offset, uint32_t& value);
uint32_t GetU32(const uint8_t* p);
void PutU32(uint8_t* p, uint32_t v);
