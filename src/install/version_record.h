// The local version record (File.ver) and the byte scrambling it shares with
// the server list. Operating-system independent: files go through the
// platform's Win32-style functions.
#pragma once

#include "platform/wintypes.h"

// In place, up to (not including) the first zero byte of the input.
void ScrambleText(char* text);
void UnscrambleText(char* text);

enum class VersionRecordStatus { Absent, Valid, Damaged, WrongFormat };

// Longest record text: "1 -2147483648 -2147483648 ffffffff" and its zero.
constexpr int kVersionRecordMax = 40;

// Formats the plain record for the pair; returns its length (no zero counted).
int FormatVersionRecord(const DWORD version[2], char (&text)[kVersionRecordMax]);
// Parses a plain record text; sets version from it even when the outcome is
// not Valid (the caller decides what to keep).
VersionRecordStatus ParseVersionRecord(const char* text, DWORD version[2]);

// Reads the record at path into version (0, 0 unless Valid or WrongFormat
// parsed them). Absent when the file cannot be opened.
VersionRecordStatus ReadVersionRecordFile(const char* path, DWORD version[2]);
// Writes the record beside path first and moves it over path only once every
// byte is on disk, so a failure leaves the old record as it was.
BOOL WriteVersionRecordFile(const char* path, const DWORD version[2]);
