/// @file
/// Binary data file: one big-endian header (834 or 4096 bytes), then an
/// optional block of 16-bit intensity values, then an optional block of 32-bit
/// phase values. The library reads this format; it never writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "data/records.h"

// The three magic numbers and the header length each announces.
constexpr uint32_t DF_MAGIC_834_A = 0x881B036F;  ///< Magic number of an 834-byte header.
constexpr uint32_t DF_MAGIC_834_B = 0x881B0370;  ///< Magic number of an 834-byte header.
constexpr uint32_t DF_MAGIC_4096 = 0x881B0371;   ///< Magic number of a 4096-byte header.
constexpr int DF_HEADER_SHORT = 834;             ///< Length of a short header in bytes.
constexpr int DF_HEADER_LONG = 4096;             ///< Length of a long header in bytes.
/// Size of the buffer that holds a header while it is unpacked: the longest
/// header plus its nine alignment gaps, rounded to the header record's size.
constexpr std::size_t DF_HEADER_BUFFER_SIZE = 4116;

/// Header length announced by a magic number, or 0 when it is not one.
int df_header_length(uint32_t magic);

/// Source information: file bytes 10 to 47.
struct df_source_info_t {
  int16_t info_word0;  ///< File bytes 10 and 11.
  char info_text[30];  ///< File bytes 12 to 41 (text).
  int16_t info_word1;  ///< File bytes 42 and 43.
  int16_t info_word2;  ///< File bytes 44 and 45.
  int16_t info_word3;  ///< File bytes 46 and 47.
};
static_assert(sizeof(df_source_info_t) == 38);

/// The header from file offset 76 to its end, in host byte order, each field
/// at its natural alignment. Fields named hNNN (NNN is the file offset) are
/// carried between the file formats but not interpreted. Fields beyond the end
/// of an 834-byte header are zero.
struct df_header_t {
  int32_t h076;           ///< file offset 76
  char h080[82];          ///< file offset 80
  int16_t h162;           ///< file offset 162
  float h164;             ///< file offset 164
  float h168;             ///< file offset 168
  float h172;             ///< file offset 172
  float h176;             ///< file offset 176
  float h180;             ///< file offset 180
  float h184;             ///< file offset 184
  int16_t h188;           ///< file offset 188
  int16_t h190;           ///< file offset 190
  int16_t h192;           ///< file offset 192
  int16_t h194;           ///< file offset 194
  int16_t h196;           ///< file offset 196
  float h198;             ///< file offset 198
  int16_t h202;           ///< file offset 202
  float h204;             ///< file offset 204
  uint8_t h208[2];        ///< file offset 208
  int32_t h210;           ///< file offset 210
  int32_t h214;           ///< file offset 214
  int16_t h218;           ///< file offset 218
  int32_t h220;           ///< file offset 220
  int16_t h224;           ///< file offset 224
  float h226;             ///< file offset 226
  int16_t h230;           ///< file offset 230
  int16_t h232;           ///< file offset 232
  int16_t h234;           ///< file offset 234
  int16_t h236;           ///< file offset 236
  int16_t h238;           ///< file offset 238
  int16_t h240;           ///< file offset 240
  int16_t h242;           ///< file offset 242
  int16_t h244;           ///< file offset 244
  char h246[12];          ///< file offset 246
  char h258[40];          ///< file offset 258
  int16_t h298;           ///< file offset 298
  int16_t h300;           ///< file offset 300
  int16_t h302;           ///< file offset 302
  uint8_t h304[16];       ///< file offset 304
  char h320[40];          ///< file offset 320
  float h360;             ///< file offset 360
  int16_t h364;           ///< file offset 364
  uint16_t h366;          ///< file offset 366
  uint32_t h368;          ///< file offset 368
  uint16_t h372[2];       ///< file offset 372
  uint32_t h376[2];       ///< file offset 376
  uint16_t h384;          ///< file offset 384
  uint32_t h386[3];       ///< file offset 386
  uint8_t h398[8];        ///< file offset 398
  uint16_t h406;          ///< file offset 406
  uint8_t h408[20];       ///< file offset 408
  uint16_t h428;          ///< file offset 428
  uint32_t h430[17];      ///< file offset 430
  float h498;             ///< file offset 498
  uint8_t h502[32];       ///< file offset 502
  char h534[28];          ///< file offset 534
  char h562[8];           ///< file offset 562
  uint8_t h570[164];      ///< file offset 570
  uint16_t h734;          ///< file offset 734
  uint8_t h736[62];       ///< file offset 736
  int32_t h798;           ///< file offset 798
  uint8_t h802[14];       ///< file offset 802
  uint16_t h816;          ///< file offset 816
  uint8_t h818[20];       ///< file offset 818
  uint16_t h838[2];       ///< file offset 838
  uint32_t h842[7];       ///< file offset 842
  uint8_t h870[28];       ///< file offset 870
  int16_t df_format_tag;  ///< file offset 898
  uint16_t h900[2];       ///< file offset 900
  uint8_t h904[30];       ///< file offset 904
  uint32_t h934;          ///< file offset 934
  uint8_t h938[60];       ///< file offset 938
  uint32_t h998[10];      ///< file offset 998
  uint8_t h1038[88];      ///< file offset 1038
  uint32_t h1126[23];     ///< file offset 1126
  uint8_t h1218[32];      ///< file offset 1218
  uint32_t h1250[3];      ///< file offset 1250
  uint8_t h1262[2];       ///< file offset 1262
  uint16_t h1264;         ///< file offset 1264
  uint32_t h1266[14];     ///< file offset 1266
  uint8_t h1322[2];       ///< file offset 1322
  uint16_t h1324;         ///< file offset 1324
  uint32_t h1326[14];     ///< file offset 1326
  uint8_t h1382[2];       ///< file offset 1382
  uint16_t h1384;         ///< file offset 1384
  uint32_t h1386[14];     ///< file offset 1386
  uint8_t h1442[4];       ///< file offset 1442
  uint32_t h1446[2];      ///< file offset 1446
  uint8_t h1454[2642];    ///< file offset 1454
};
static_assert(sizeof(float) == 4);
static_assert(sizeof(df_header_t) == 4036);

/// Reads a binary data file into the records; any record may be null. The
/// intensity and phase records must have a null buffer or one of their own:
/// on failure they are released. A path may be a marked wide path.
/// Errors: ERR_CANT_OPEN_FILE, ERR_PREMATURE_EOF, ERR_NOT_A_DATA_FILE,
/// ERR_DATASET_DIM_TOO_LARGE, ERR_PARAM_OUT_OF_RANGE, ERR_NO_MEM,
/// ERR_CORRUPT_DATA_FILE.
int df_read_file(const char* path, df_source_info_t* source, df_header_t* header,
                 mx_bkt16_t* intensity, mx_i32_t* phase);
/// Reads a binary data file into the records, exactly as df_read_file does.
int df_read_binary_file(const char* path, df_source_info_t* source, df_header_t* header,
                        mx_bkt16_t* intensity, mx_i32_t* phase);
/// The same on an open stream, from its current position; the stream stays
/// open. Works on streams that cannot seek.
int df_read_binary_stream(std::FILE* stream, df_source_info_t* source, df_header_t* header,
                          mx_bkt16_t* intensity, mx_i32_t* phase);

// The two steps that bring raw header bytes (in a buffer of
// DF_HEADER_BUFFER_SIZE bytes, zero beyond the header) into host form:
// open the nine alignment gaps, then reverse the byte order of every numeric
// field except h798.

/// First step of bringing raw header bytes into host form: opens the nine alignment
/// gaps of the header in `buffer` (DF_HEADER_BUFFER_SIZE bytes, zero beyond the
/// header, whose length `magic` announces), in place.
void df_unpack_header(unsigned char* buffer, uint32_t magic);
/// Second step: reverses the byte order of every numeric field of the unpacked
/// header in `buffer` except h798, in place.
void df_swap_header(unsigned char* buffer);
