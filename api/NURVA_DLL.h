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

/* Project files on the card */
NURVA_API void NURVA_CALL GetFileNames(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL CheckAfile(int32_t channel, const char* fileName, int32_t* res, char* text);
NURVA_API void NURVA_CALL OpenAfile(int32_t channel, const char* fileName, int32_t* res, char* text);
NURVA_API void NURVA_CALL CloseAfile(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL DeleteAfile(int32_t channel, const char* fileName, int32_t* res, char* text);
NURVA_API void NURVA_CALL GetFileState(int32_t channel, int32_t* res, char* text);
NURVA_API void NURVA_CALL GetProjParams(int32_t channel, const char* fileName, int32_t* res, char* text);
NURVA_API void NURVA_CALL DownloadFile(int32_t channel, const char* fileName, int32_t* res, char* text);

/* Erase, program and verify */
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

/* Progress status */
NURVA_API void NURVA_CALL GetProgStatus(int32_t channel, int32_t* res, char* text);

/* Read back */
NURVA_API void NURVA_CALL ReadBackChipF(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t* res, char* text);
NURVA_API void NURVA_CALL ReadBackChipE(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount,
                                        int32_t* res, char* text);
NURVA_API void NURVA_CALL ReadBackChipU(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t* res, char* text);

/* Block transfers */
NURVA_API void NURVA_CALL DownProgBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t* res, char* text);
NURVA_API void NURVA_CALL DownProgBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownProgBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t* res, char* text);
NURVA_API void NURVA_CALL DownOverBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownOverBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownOverBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownFileBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownFileBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
NURVA_API void NURVA_CALL DownFileBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);
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
