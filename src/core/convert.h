// Numbers and note names as the windows show and accept them.
// Note names number octaves with C3 = 60. All functions: any thread.
#pragma once

// Writes `value` as `width` decimal digits into `out` (which holds width + 1
// characters), then strips leading zeros down to `min_digits` digits unless
// `min_digits` is 0.
void int_to_str(char* out, long value, int width, char digit_base, int min_digits);

// Reads a decimal number from exactly `length` characters of `text`: an
// optional leading sign, then every digit; other characters are skipped.
int str_to_int(const char* text, int length);

// The key of a note name such as "C#3", "c 3" or "A-1" (C3 = 60).
int traduit(const char* text);

// Writes the four-character note name of `key` (0..127) into `out`
// (at least 5 bytes): "C -2" for 0, "C  3" for 60, "G  8" for 127.
void const_midit(int key, char* out);

// Writes the tree label of sound `s` into `out` (at least 32 bytes): the
// sound's name, or "None Sample" when the slot is empty.
void const_str(int s, char* out);

// Milliseconds of a release of `frames` source frames at `rate` Hz (rate > 0),
// truncated, in unsigned 32-bit arithmetic; a product too large for 32 bits
// is worked out in 64 bits and the result limited to 0xFFFFFFFF.
unsigned frames_to_ms(unsigned frames, unsigned rate);
// Source frames of `ms` milliseconds at `rate` Hz, truncated; 0 for a
// negative time, limited to 0xFFFFFFFF like frames_to_ms.
unsigned ms_to_frames(long ms, unsigned rate);
