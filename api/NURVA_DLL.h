/*
 * NURVA_DLL: host interface to the NURVA family of USB device programmers.
 *
 * Usable from C and C++. Every channel call takes the channel number (the programmer's
 * place in the list that AbortAll builds, from 0), its own arguments, a pointer to the
 * host's result code and a text buffer. It writes a NURVA_RES_* code to *res (a call
 * that reaches no decision leaves *res as the host set it) and copies its NUL-terminated
 * result text into the buffer. The library does not know the buffer's size: provide room
 * for the longest text of the call plus its NUL (NURVA_TEXT_BUFFER_SIZE is ample for the
 * short results; the file list and the project report can be longer).
 *
 * Call AbortAll first: it finds the programmers and returns after about one second or
 * more. No other call may run while AbortAll runs. Calls on different channels may run
 * on different threads at the same time; a second call on a busy channel answers "Busy".
 */
#ifndef NURVA_DLL_H
#define NURVA_DLL_H

#include <stdint.h>

#if defined(_WIN32)
#define NURVA_CALL __stdcall /* the one calling convention of 64-bit Windows */
#if defined(NURVA_BUILDING_LIBRARY)
#define NURVA_API __declspec(dllexport)
#else
#define NURVA_API __declspec(dllimport)
#endif
#else
#define NURVA_CALL
#if defined(NURVA_BUILDING_LIBRARY)
#define NURVA_API __attribute__((visibility("default")))
#else
#define NURVA_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes written to *res. */
enum {
  NURVA_RES_resNone = 0,
  NURVA_RES_resOk = 1,
  NURVA_RES_progDone = 2,
  NURVA_RES_noProg = 3,
  NURVA_RES_progFound = 4,
  NURVA_RES_progBusy = 5,
  NURVA_RES_progDefect = 6,
  NURVA_RES_progIdle = 7,
  NURVA_RES_progComErr = 8,
  NURVA_RES_progTimeOutErr = 9,
  NURVA_RES_PwrDownErr = 10,
  NURVA_RES_PwrSupplyErr = 11,
  NURVA_RES_SignatureErr = 12,
  NURVA_RES_invPassword = 13,
  NURVA_RES_limitExc = 14,
  NURVA_RES_eraChip = 15,
  NURVA_RES_eraFlash = 16,
  NURVA_RES_eraEEp = 17,
  NURVA_RES_eraUsrRow = 18,
  NURVA_RES_ProtectedErr = 19,
  NURVA_RES_NotEmptyErr = 20,
  NURVA_RES_prgFlash = 21,
  NURVA_RES_prgEEp = 22,
  NURVA_RES_prgUsrRow = 23,
  NURVA_RES_verifyFlash = 24,
  NURVA_RES_verifyEEp = 25,
  NURVA_RES_verifyUsrRow = 26,
  NURVA_RES_VerifyErr = 27,
  NURVA_RES_dwnLoading = 28,
  NURVA_RES_ParmErr = 29,
  NURVA_RES_dwnLoadErrF = 30,
  NURVA_RES_dwnLoadErrE = 31,
  NURVA_RES_dwnLoadErrU = 32,
  NURVA_RES_invFile = 33,
  NURVA_RES_invFName = 34,
  NURVA_RES_FileExist = 35,
  NURVA_RES_FileNotFound = 36,
  NURVA_RES_FileErr = 37,
  NURVA_RES_FileDwnErr = 38,
  NURVA_RES_MMCok = 39,
  NURVA_RES_MMCprotected = 40,
  NURVA_RES_MMCnoMedia = 41,
  NURVA_RES_MMCmissing = 42,
  NURVA_RES_MMCinitFailed = 43,
  NURVA_RES_MMCresetFailed = 44,
  NURVA_RES_MMCcheckFailed = 45,
  NURVA_RES_MMCnoProg = 46,
  NURVA_RES_MMCprogBusy = 47
};

/* Room for any short result text of the library. */
#define NURVA_TEXT_BUFFER_SIZE 1024
/* Most programmers the library handles. */
#define NURVA_MAX_PROGRAMMERS 16

/* Discovery and channels */
NURVA_API uint8_t NURVA_CALL AbortAll(void);
NURVA_API void NURVA_CALL GetProgIDs(int32_t* count, char* text);
NURVA_API void NURVA_CALL ClosePort(int32_t channel, int32_t* res, char* text);

/* Programmer check and target control */
NURVA_API void NURVA_CALL CheckProgrammer(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL InitChannel(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL ReleaseTarget(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL CheckDevice(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL GetTargVolt(int32_t channel, int32_t* Volt, int32_t* res, char* text);
NURVA_API void NURVA_CALL GetFuses(int32_t channel, int32_t selfuse, int32_t* fuse, int32_t* res, char* text);

/* Project files on the programmer's card. A file name is the host's NUL-terminated string;
 * a null pointer answers "parameter error" 29 and sends nothing. Names go out as at most
 * their first 64 characters; CheckAfile trims spaces and control characters from both
 * ends first, OpenAfile and DeleteAfile send the name as given.
 *
 * GetFileNames: the card's listing, exactly 15 lines of a name (or nothing) and CR LF,
 * at most 990 characters, with 1. "MMC check failed" 37 when the card cannot list,
 * "communication error" 9 when the programmer stops sending names (the call then ends
 * after about 21 s without a name). At least 1.5 s, about 2 s on a programmer that answers.
 * CheckAfile: "File check ok" 1, "File check failed" 33, "MMC File Exist" 35 (also when no
 * reply comes), or an empty text and res unchanged for a reply without meaning; up to 4 s.
 * OpenAfile: "file open" 1, "file not found" 36, "invalide file" 33, "device power down"
 * 10, "wrong device ID" 12, "device protected" 19, "communication error" 9; up to 8 s.
 * CloseAfile: "file closed" 1 on any reply, "communication error" 9 when none comes in
 * five waits (10 s).
 * DeleteAfile: "File deleted" 1, "delete failed" 37 (refused or no reply); up to 2 s.
 * GetFileState: the open file's name with 1; "file closed" 34 when none is open, an empty
 * text with 36 when the programmer names none, "communication error" 9 when the name does
 * not come; up to 8 s.
 * GetFileNames, CloseAfile and GetFileState answer "TESK not found" 3 while no programmer
 * is usable on the link (nothing is sent). Every call also has the channel answers
 * ("USB not connected!!" 5, "illegal port number" 3, "Busy" 5). */
NURVA_API void NURVA_CALL GetFileNames(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL CheckAfile(int32_t channel, const char* fileName, int32_t* res, char* text);
NURVA_API void NURVA_CALL OpenAfile(int32_t channel, const char* fileName, int32_t* res, char* text);
NURVA_API void NURVA_CALL CloseAfile(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL DeleteAfile(int32_t channel, const char* fileName, int32_t* res, char* text);
NURVA_API void NURVA_CALL GetFileState(int32_t channel, int32_t* res, char* text);
/* GetProjParams: the settings of the project file fileName on the card as twelve lines,
 * each ended by CR LF: name, file date and time, date, info text, target clock, Flash size,
 * EEprom size, user row size (PDI only), verify option ("yes"/"no"), interface, protection
 * ("none", "AES", "AES+PWD", "AES+PWD+QNT": the features of the open project) and target
 * power. Dates read yyyy.mmm.dd with the user's abbreviated month names; times, decimal
 * separators and month names come from the user's locale. The name is sent without its
 * leading and trailing blanks and control characters, at most 64 characters of it.
 * Success: res 1 and the report (under 300 characters plus the name and info text).
 * Failures: "File not found" 36 (no answer either), "File check error" 33,
 * "communication error1" 9 (the record was refused), "communication error2" 9 (the record
 * came short, or longer than its 195 bytes), "parameter error" 29 for a null fileName
 * (nothing sent), and the channel answers of the other calls. Blocks for about 8 s when
 * the programmer is silent or stops answering midway (2 s for each of the two parts of the
 * protection reply, 4 s for each reply about the file); longer only while replies keep
 * coming, each just within its limit. */
NURVA_API void NURVA_CALL GetProjParams(int32_t channel, const char* fileName, int32_t* res, char* text);
/* DownloadFile: copies the PC file at the path fileName to the card, under its name cut to
 * 8 characters without spaces and directories ('\', '/' or ':'), with the extension in
 * capitals. The extension must be .PACK, .PAC, or begin with .EN or .PK (any case). The
 * programmer is checked first. Answers: "ok" 1; "TESK not found" 3; "invalid file name"
 * 34; "File not found" 34 (missing or unreadable: no file is made on the card);
 * "communication error" 8 (time stamp refused); "File exists" 35; "File create failed" 37;
 * "filesize mismatch" 38 (a block or the whole file not acknowledged); "parameter error"
 * 29 for a null fileName (nothing sent). The whole file is read into memory first. Blocks
 * of 128 bytes each wait for their acknowledgement, up to 10 times 2 s: a prompt
 * programmer takes a few ms per block plus 0.1 s at the end; one that stops answering ends
 * the call after about 22 s. After every 32nd block the calling thread's pending window
 * messages are dispatched (Windows); a handler's call on this channel then answers "Busy"
 * 5, calls on other channels run. */
NURVA_API void NURVA_CALL DownloadFile(int32_t channel, const char* fileName, int32_t* res, char* text);

/* Erase, program and verify, from the project open on the programmer's card.
 *
 * Erase (EraseDevice the whole chip, EraseDeviceX its variant 'G', EraseDeviceUsr the user
 * row): returns when the programmer reports the outcome, after at most three replies of up
 * to 2 s each. "chip erased" 1; "file error" 33 (refused or no answer), "power down" 10,
 * "erased failed" 20.
 *
 * Start commands (ProgDevice, ProgFlash, ProgEEprom, ProgUsrRow; VerifyDevice,
 * VerifyFlashOnly, VerifyEEpromOnly): drop the statuses still queued, start the job and
 * return within 3 s once the programmer has accepted it: "programming", "prog Flash",
 * "prog EEprom", "prog UsrRow" or "verifying" with 1. Then follow the job with
 * GetProgStatus. The programming commands other than ProgFlash also take "device not
 * empty" as accepted. Refusals: "File Error" 37 (also no answer within 3 s), "device power
 * down" 10, "wrong device ID" 12, "device protected" 19, "device not empty" 20,
 * "communication error" 9 (the programmer's time-out, or an answer it gives no meaning).
 *
 * ProgFuses, ProgLockBits: one step, answered as the start commands, within 3 s; success
 * is "fuses programmed" / "locks programmed" with 1, and no status follows.
 *
 * Every one of them: "TESK not found" 3 while no programmer is usable on the link (nothing
 * is sent), and the channel answers of the other calls ("USB not connected!!" 5, "illegal
 * port number" 3, "Busy" 5). */
NURVA_API void NURVA_CALL EraseDevice(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL EraseDeviceX(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL EraseDeviceUsr(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL ProgDevice(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL ProgFlash(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL ProgEEprom(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL ProgUsrRow(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL ProgFuses(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL ProgLockBits(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL VerifyDevice(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL VerifyFlashOnly(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL VerifyEEpromOnly(int32_t channel, int32_t* res, char* text);

/* Progress status of a running program or verify job. Call it again and again after a
 * start command until res is 2 ("operation successful") or an error code. Each call takes
 * the programmer's next status (a run of equal ones at once) and answers the link's status
 * text and code; it waits at most 50 ms when no status is pending, and then repeats the
 * previous answer. While the job runs, res is 1, 15 ("erase Chip") or 21..26 ("prog Flash",
 * "prog EEprom", "prog UsrRow", "verify Flash", "verify EEprom", "verify UsrRow"). The end:
 * 2, or 9 "progTimeOutError", 10 "Device Power down", 12 "Wrong signature", 14 "Device
 * count exceeded" / "Device limit exceeded", 19 "Device protected", 20 "Device not empty",
 * 27 "Verify error"; the final answer stays until another command changes it. It sets no
 * busy mark; while another call runs on the channel it reads nothing and answers "Busy" 5,
 * so the statuses wait for the next poll. Before AbortAll: "USB not connected!!" 5. */
NURVA_API void NURVA_CALL GetProgStatus(int32_t channel, int32_t* res, char* text);

/* Read back
 *
 * One block of the target's Flash (F), user signature row (U) or EEprom (E) per call, read
 * by the programmer and written straight to pDestAddr: 256 bytes for F and U, PageCount
 * bytes (1 to 256) for E; pDestAddr must hold that many. ChipAddr goes to the programmer
 * unchanged (its unit is the programmer's). The bytes that came stand at pDestAddr also
 * when the checksum fails; bytes past them are not touched.
 *   1  "resOK"               block and checksum word came and agree
 *   30 "checksum error"      the checksum differs, or no block or no checksum word came
 *   37 "File error"          no go-ahead for the block commands (no usable open project)
 *   37 "file encrypted"      the programmer refuses to read back
 *   10 "device power down", 12 "wrong device ID", 19 "device protected",
 *   30 "communication error" the target's state before the read
 *   3  "TESK not found"      no programmer on the channel; nothing is sent
 *   29 "parameter error"     null pDestAddr, or PageCount outside 1..256; nothing is sent
 * Blocks at least 150 ms (170 ms for E), at most about 10 s when the programmer is silent. */
NURVA_API void NURVA_CALL ReadBackChipF(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t* res, char* text);
NURVA_API void NURVA_CALL ReadBackChipE(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount,
                                        int32_t* res, char* text);
NURVA_API void NURVA_CALL ReadBackChipU(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t* res, char* text);

/* Block transfers
 *
 * Every call moves one block; dest goes to the programmer as 4 bytes, unchanged. Every data
 * byte is a packet of its own, so a block of n bytes costs n transfers. Common answers:
 *   3  "TESK not found"      no programmer on the channel; nothing is sent
 *   37 "File error"          no go-ahead for the block commands
 *   29 "parameter error"     a null Block or a Count outside the call's range; nothing is sent
 * The memory's error code below is 30 for F, 31 for E, 32 for U.
 *
 * DownProgBlockF/U write the first 256 bytes of Block into the target at dest,
 * DownProgBlockE the first Count (1 to 256). The programmer checks the target first:
 *   10 "device power down", 12 "wrong device ID", 19 "device protected",
 *   30 "communication error1" (for all three memories)      before the data
 *   the memory's code "communication error3"                data not confirmed
 *   11 "low voltage", 12 "wrong device", 19 "device protected", 27 "verify error"
 *   1  "ok"
 * Blocks at least 200 ms plus 256 transfers; about 10 s at most with a silent programmer. */
NURVA_API void NURVA_CALL DownProgBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t* res, char* text);
NURVA_API void NURVA_CALL DownProgBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownProgBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t* res, char* text);

/* DownOverBlock*: Count 1 to 32 bytes that stay within one 256-byte page (dest div 256
 * equals (dest + Count - 1) div 256, dividing toward zero). 1 "ok"; 9 "communication
 * error" for any refusal by the programmer. No fixed pauses; about 8 s at most. */
NURVA_API void NURVA_CALL DownOverBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownOverBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownOverBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);

/* DownFileBlock*: Count bytes (0 to 65535) into the memory image of the project open on
 * the card. 1 "ok"; the memory's code with "file is encrypted" (the programmer refuses),
 * "communication error" (header not confirmed) or "checksum error" (data not confirmed).
 * Blocks at least 430 ms plus Count transfers. */
NURVA_API void NURVA_CALL DownFileBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownFileBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownFileBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);

/* UpFileBlock*: Count bytes (0 to 65535) of the open project's memory image into Block,
 * which must hold Count bytes. 1 "ok"; 37 "File error" (the programmer refuses); the
 * memory's code with "communication error" (header not confirmed) or "checksum error"
 * (the checksum differs or did not come). When the data stops coming, the call ends at
 * the first missing byte: the rest of the block is filled with 0x15 and the answer is
 * "checksum error". Blocks at least 330 ms plus Count replies (a few ms each). */
NURVA_API void NURVA_CALL UpFileBlockF(int32_t channel, uint8_t* Block, int32_t dest, int32_t Count, int32_t* res,
                                       char* text);
NURVA_API void NURVA_CALL UpFileBlockE(int32_t channel, uint8_t* Block, int32_t dest, int32_t Count, int32_t* res,
                                       char* text);
NURVA_API void NURVA_CALL UpFileBlockU(int32_t channel, uint8_t* Block, int32_t dest, int32_t Count, int32_t* res,
                                       char* text);

#ifdef __cplusplus
}
#endif

#endif /* NURVA_DLL_H */
