/**
 * @file NURVA_DLL.h
 * @brief Host interface to the NURVA family of USB device programmers: discovery, programmer
 * and target checks, project files on the programmer's card, erase, program and verify jobs,
 * read back and block transfers.
 *
 * Usable from C and C++. The overview (calling pattern, the answers every channel call can
 * give, text buffers, time limits and threads) is on the @ref index "main page".
 */
/**
 * @mainpage NURVA_DLL reference
 *
 * NURVA_DLL finds up to 16 NURVA programmers on the USB, keeps one link per programmer, and
 * drives them through 45 exported C functions, declared in NURVA_DLL.h. Each programmer carries
 * a flashcard with project files; a project names the target microcontroller and holds its
 * memory images and settings, and the erase, program and verify jobs work from the project
 * that is open on the card.
 *
 * @section start The first calls
 *
 * @code{.c}
 * AbortAll();                                 // find the programmers (1 s or more)
 * int32_t n = 0;
 * char text[NURVA_TEXT_BUFFER_SIZE];
 * GetProgIDs(&n, text);                       // their serial numbers, CR LF between them
 *
 * int32_t res = -1;                           // set res before every call (see below)
 * for (int32_t ch = 0; ch < NURVA_MAX_PROGRAMMERS; ++ch) {
 *   ClosePort(ch, &res, text);                // 0 "port closed" while ch is a channel
 *   if (res != NURVA_RES_resNone) break;
 *   res = -1;
 *   CheckProgrammer(ch, &res, text);          // 39 "TESK at Port 0001E240" when all is well
 * }
 * @endcode
 *
 * AbortAll builds the list of programmers; a programmer's place in it, from 0, is its
 * channel number. The list changes only with the next AbortAll: plugging or unplugging a
 * programmer changes nothing by itself.
 *
 * @section calls Channel calls
 *
 * Every call but AbortAll and GetProgIDs takes the channel number first, then its own
 * arguments, then a pointer to the host's result code `res` and a pointer to the host's
 * text buffer, and returns nothing:
 *
 * - It writes one of the @ref result_codes "NURVA_RES_* codes" to `*res`. A call that
 *   reaches no decision (the cases are listed with each call) writes no code and leaves
 *   `*res` as the host set it, so set `*res` to a value the library never writes (such as
 *   -1) before each call to tell that case apart.
 * - It copies its result text into the buffer, NUL-terminated (see @ref texts).
 * - Most codes go with several texts, and codes 3 and 5 each have several meanings: the
 *   text tells which answer it is. The texts are fixed strings of the library, some with a
 *   serial number, a file name or a number in them, and are listed with each call in
 *   double quotes, exactly as they come.
 * - A null `res` or `text` pointer is skipped; the call runs all the same.
 * - No call lets an exception or a crash out of the library: a failure that no answer
 *   foresees (for instance memory running out) answers "internal error" with 8, and the
 *   channel stays usable.
 *
 * @section channel_answers Answers every channel call can give
 *
 * Besides its own answers, every channel call answers:
 *
 * - 5 "USB not connected!!": AbortAll has not run yet.
 * - 3 "illegal port number": the channel is below 0 or not below the number of channels
 *   (ClosePort tells which channels exist).
 * - 5 "Busy": another call runs on this channel (see @ref threads). Nothing is sent.
 * - 8 "internal error": see above.
 *
 * Nothing is sent to the programmer with the first three. The calls with argument checks also
 * answer 29 "parameter error" (the checks are listed with each call; nothing is sent), and
 * most calls that talk to the programmer answer 3 "TESK not found" while no programmer is
 * usable on the channel: then nothing is sent either. A channel is without a programmer for
 * instance when its link could not be made at discovery, or when a programmer check
 * (CheckProgrammer, also run by DownloadFile) found none; a later programmer check that finds
 * the programmer makes the channel usable again.
 *
 * @section texts Result texts and the text buffer
 *
 * Texts are 8-bit strings. The library does not know the size of the host's buffer and
 * writes the whole text and its NUL: the buffer must hold the longest text of the call
 * plus 1. #NURVA_TEXT_BUFFER_SIZE bytes hold every text of every call, the card's file
 * listing (at most 990 characters) and the project report included; the other texts are
 * well under 100 characters.
 *
 * @section timing How long calls block
 *
 * Every call runs on the calling thread and returns when its exchange with the programmer is
 * over; the bounds are given with each call. The programmer answers with single characters;
 * a reply waits at most 2000 ms (some replies of some calls 50, 3000 or 4000 ms, as stated),
 * and a reply that does not come counts as a refusal. A silent programmer therefore costs one
 * time limit per reply the call waits for, which is how the bounds are counted. The bounds
 * assume the programmer takes the packets the library sends: a packet it does not take costs
 * up to 2000 ms more each, and the block transfers send every data byte as a packet of its
 * own. Program and verify jobs run on in the programmer after their start call has returned;
 * follow them with GetProgStatus.
 *
 * @section threads Threads
 *
 * - Calls run on the calling thread; the library starts no thread for them. Each programmer
 *   link has a receive thread of its own that only queues what the programmer sends.
 * - Calls on different channels may run at the same time on different threads.
 * - A call on a channel where another call runs does not wait: it answers "Busy" with 5 at
 *   once. Keep one thread per channel, or serialise the calls of a channel in the host.
 * - GetProgStatus holds the channel's busy mark while it reads, like every channel call: a
 *   poll while another call runs on its channel answers "Busy" with 5 and leaves the
 *   statuses queued for the next poll, and a call made during a poll answers "Busy".
 * - GetProgIDs and ClosePort may be called from any thread at any time (they wait for a
 *   running AbortAll).
 * - AbortAll replaces the list of channels. It waits until the calls that run on other
 *   threads have returned (so it may wait as long as the longest of them), and calls made on
 *   other threads while it runs wait until it has finished and then see the new list. Stop
 *   the other threads' calls before AbortAll: while calls follow one another without a gap,
 *   AbortAll may keep waiting.
 * - Windows: AbortAll (once per device number) and DownloadFile (after every 32nd block)
 *   dispatch the calling thread's pending window messages, so a user interface on that
 *   thread stays responsive. A message handler may call the library from there: during
 *   AbortAll the channel calls answer 5 "USB not connected!!", GetProgIDs lists nothing,
 *   ClosePort answers 3 "illegal port number" and a nested AbortAll returns 0 at once and
 *   changes nothing; during a download, calls on other channels run as usual and calls on
 *   the downloading channel answer "Busy" with 5.
 * - Unloading the library stops every link. Return from all calls first: an unload that
 *   finds a call still running waits for it at most 2 s and then leaves the links as they
 *   are.
 */
#ifndef NURVA_DLL_H
#define NURVA_DLL_H

#include <stdint.h>

/**
 * @def NURVA_CALL
 * @brief The calling convention of the exports: the standard one of 64-bit Windows
 * (`__stdcall`, which the x64 compilers treat as the one convention there); nothing elsewhere.
 *
 * @def NURVA_API
 * @brief Marks the exported functions: imported from the DLL on Windows (exported while the
 * library itself is built), visible symbols of the shared library elsewhere.
 */
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

/**
 * @defgroup result_codes Result codes
 * @brief The codes written to `*res`, and the status codes GetProgStatus reports.
 *
 * The numbers are fixed: compare `res` with them. Each code goes with the texts listed at the
 * calls; the notes here say what the code stands for. Codes marked "not produced" keep their
 * place in the numbering; no call writes them.
 * @{
 */

/** @brief Result and status codes; the number is the value written to `*res`. */
enum {
  NURVA_RES_resNone = 0,          /**< "port closed" of ClosePort: the channel exists. */
  NURVA_RES_resOk = 1,            /**< Success; each call has its own success text. */
  NURVA_RES_progDone = 2,         /**< GetProgStatus: the job ended well, "operation successful". */
  NURVA_RES_noProg = 3,           /**< No programmer usable ("TESK not found", "Check Port"), or an
                                       illegal channel ("illegal port number"). */
  NURVA_RES_progFound = 4,        /**< InitChannel "prog OK"; GetProgStatus after a good programmer
                                       check, "TESK found". */
  NURVA_RES_progBusy = 5,         /**< "Busy" (another call runs on the channel) or "USB not
                                       connected!!" (AbortAll has not run). */
  NURVA_RES_progDefect = 6,       /**< InitChannel: "TESK lost Firmware". */
  NURVA_RES_progIdle = 7,         /**< Not produced. */
  NURVA_RES_progComErr = 8,       /**< "internal error" of any call; DownloadFile's "communication
                                       error" (time stamp refused). */
  NURVA_RES_progTimeOutErr = 9,   /**< "communication error" of most calls: the programmer did not
                                       answer, or answered something without meaning; the job
                                       status "progTimeOutError". */
  NURVA_RES_PwrDownErr = 10,      /**< The target has no power: "device power down", "power down",
                                       "Device Power down". */
  NURVA_RES_PwrSupplyErr = 11,    /**< Program block: "low voltage". */
  NURVA_RES_SignatureErr = 12,    /**< The target is not the project's device: "wrong device ID",
                                       "wrong ID", "wrong device", "Wrong signature". */
  NURVA_RES_invPassword = 13,     /**< Not produced. */
  NURVA_RES_limitExc = 14,        /**< Job status: "Device count exceeded", "Device limit exceeded". */
  NURVA_RES_eraChip = 15,         /**< Job status while running: "erase Chip". */
  NURVA_RES_eraFlash = 16,        /**< Not produced. */
  NURVA_RES_eraEEp = 17,          /**< Not produced. */
  NURVA_RES_eraUsrRow = 18,       /**< Not produced. */
  NURVA_RES_ProtectedErr = 19,    /**< The target is read or write protected: "device protected",
                                       "protected", "Device protected". */
  NURVA_RES_NotEmptyErr = 20,     /**< "not empty", "device not empty", "erased failed", "Device not
                                       empty". */
  NURVA_RES_prgFlash = 21,        /**< Job status while running: "prog Flash". */
  NURVA_RES_prgEEp = 22,          /**< Job status while running: "prog EEprom". */
  NURVA_RES_prgUsrRow = 23,       /**< Job status while running: "prog UsrRow". */
  NURVA_RES_verifyFlash = 24,     /**< Job status while running: "verify Flash". */
  NURVA_RES_verifyEEp = 25,       /**< Job status while running: "verify EEprom". */
  NURVA_RES_verifyUsrRow = 26,    /**< Job status while running: "verify UsrRow". */
  NURVA_RES_VerifyErr = 27,       /**< "verify error" (program block), "Verify error" (job status). */
  NURVA_RES_dwnLoading = 28,      /**< Not produced. */
  NURVA_RES_ParmErr = 29,         /**< "parameter error": an argument check failed, nothing sent. */
  NURVA_RES_dwnLoadErrF = 30,     /**< A Flash block or a read back failed (and "communication
                                       error1" of every program block). */
  NURVA_RES_dwnLoadErrE = 31,     /**< An EEprom block failed. */
  NURVA_RES_dwnLoadErrU = 32,     /**< A user signature row block failed. */
  NURVA_RES_invFile = 33,         /**< The project file is not usable: "File check failed",
                                       "invalide file", "File check error", "file error" (erase). */
  NURVA_RES_invFName = 34,        /**< "invalid file name", "File not found" (DownloadFile), "file
                                       closed" (GetFileState). */
  NURVA_RES_FileExist = 35,       /**< "MMC File Exist" (CheckAfile), "File exists" (DownloadFile). */
  NURVA_RES_FileNotFound = 36,    /**< "file not found", "File not found", "File error" (GetFuses),
                                       an empty text (GetFileState). */
  NURVA_RES_FileErr = 37,         /**< "File error", "File Error", "delete failed", "MMC check
                                       failed", "File create failed", "file encrypted". */
  NURVA_RES_FileDwnErr = 38,      /**< DownloadFile: "filesize mismatch". */
  NURVA_RES_MMCok = 39,           /**< CheckProgrammer: programmer and card are fine. */
  NURVA_RES_MMCprotected = 40,    /**< Not produced. */
  NURVA_RES_MMCnoMedia = 41,      /**< Status after CheckProgrammer found no card (the call itself
                                       answers 42). */
  NURVA_RES_MMCmissing = 42,      /**< CheckProgrammer: "TESK found, no flashcard". */
  NURVA_RES_MMCinitFailed = 43,   /**< CheckProgrammer: "TESK found, MMC init failed". */
  NURVA_RES_MMCresetFailed = 44,  /**< CheckProgrammer: "TESK found, MMC reset failed". */
  NURVA_RES_MMCcheckFailed = 45,  /**< CheckProgrammer: "TESK found, MMC check failed". */
  NURVA_RES_MMCnoProg = 46,       /**< CheckProgrammer: "programmer not found! at Port ..." */
  NURVA_RES_MMCprogBusy = 47      /**< Not produced. */
};

/** @} */

/**
 * @brief Buffer size that holds every result text of the library with its NUL: the file
 * listing of GetFileNames (at most 990 characters) and the report of GetProjParams
 * included.
 */
#define NURVA_TEXT_BUFFER_SIZE 1024
/** @brief Most programmers the library handles: the channels are 0 to at most 15. */
#define NURVA_MAX_PROGRAMMERS 16

/**
 * @defgroup discovery Discovery and channels
 * @brief Find the programmers, list their serial numbers, tell which channels exist.
 * @{
 */

/**
 * @brief Finds the programmers: frees the links of the previous list and builds a new one.
 *
 * Probes USB device numbers 0 to 15 in turn. A device that answers the identify command with
 * the model name "NURVA Prog" or "NURVA P/R" becomes the next channel, connected; a device
 * that answers with another name is dropped. A device that connects but never answers the
 * identify (five attempts) ends the discovery there: the devices after it are not probed,
 * and its link stays in the list as the last channel, without a programmer (its calls answer
 * "TESK not found" with 3, CheckProgrammer 46 "programmer not found! at Port ", InitChannel 3
 * "Check Port"), and GetProgIDs does not list it. The channel numbers of the previous list
 * lose their meaning.
 *
 * @return 1 when a device answered with another model name and was dropped, else 0. It says
 * nothing about the programmers found: GetProgIDs and ClosePort tell that. Also 0 when called
 * from a window message handler inside another call of this thread (then nothing happens).
 *
 * @par Blocks
 * At least 1 s (a pause before the first device), plus a few ms per device number and per
 * programmer. Each retry of a device that does not answer costs up to about 7 s; such a
 * device takes up to about 30 s and ends the discovery.
 *
 * @par Threads
 * Waits until the calls running on other threads have returned; calls made on other threads
 * meanwhile wait until it has finished (see @ref threads).
 */
NURVA_API uint8_t NURVA_CALL AbortAll(void);

/**
 * @brief Lists the serial numbers of the programmers found by the last AbortAll.
 *
 * The text holds one serial number per programmer, each as 8 hexadecimal digits with capital
 * letters (0001E240), in channel order, with CR LF (0x0D 0x0A) between them and none after
 * the last: 0001E240, CR LF, 00ABCDEF. A channel without a serial number (the link left by a
 * device that never answered, or a programmer whose serial number is 0) is skipped and not
 * counted, so the n-th number in the text is not always channel n - 1, and the count can be
 * lower than the number of channels.
 *
 * @param[out] count receives the number of serial numbers in the text: 0 before the first
 *   AbortAll or when none was found. May be null.
 * @param[out] text receives the list (at most 16 times 10 characters); an empty text when
 *   there is none. May be null.
 *
 * @par Blocks
 * No exchange with the programmers: returns at once (after a running AbortAll).
 * @par Threads
 * Any thread, at any time.
 */
NURVA_API void NURVA_CALL GetProgIDs(int32_t* count, char* text);

/**
 * @brief Tells whether a channel exists. Closes nothing: the link stays connected and usable.
 *
 * Use it to count the channels: they are 0 up to the first one that answers 3.
 *
 * @param channel the channel to test.
 * @param[out] res receives the code below. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 0 "port closed": the channel exists.
 * - 3 "illegal port number": it does not, or AbortAll has not run yet.
 *
 * @par Blocks
 * Returns at once (after a running AbortAll).
 * @par Threads
 * Any thread, at any time; it does not mind a call running on the channel.
 */
NURVA_API void NURVA_CALL ClosePort(int32_t channel, int32_t* res, char* text);

/** @} */

/**
 * @defgroup check Programmer check and target control
 * @brief Is the programmer there and its card usable; prepare and release the target; the
 * target's state, voltage and fuse bytes.
 * @{
 */

/**
 * @brief Checks the programmer and its flashcard.
 *
 * Also sets the status that GetProgStatus reports: "TESK found" with 4 when all is well, else
 * the card fault with its code (41 when the card is missing). A programmer that answers makes
 * the channel usable again after it had lost its programmer; on a channel without a
 * connection the programmer counts as lost.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 39 "TESK at Port " and the serial number (8 hexadecimal digits, none when it is 0): the
 *   programmer and its card are usable. Also when the programmer does not answer.
 * - 42 "TESK found, no flashcard"
 * - 43 "TESK found, MMC init failed"
 * - 44 "TESK found, MMC reset failed"
 * - 45 "TESK found, MMC check failed"
 * - 46 "programmer not found! at Port " and the last known serial number: the channel has
 *   no connection to a programmer; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At most about 2 s (one reply).
 */
NURVA_API void NURVA_CALL CheckProgrammer(int32_t channel, int32_t* res, char* text);

/**
 * @brief Prepares the channel for a new job: drops everything the programmer sent that was
 * not read yet (the statuses of a job among it). Sends nothing.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 4 "prog OK"
 * - 6 "TESK lost Firmware": the programmer reported at discovery that it lost its firmware.
 * - 3 "Check Port": the channel has no connection to a programmer; it counts as without
 *   programmer from now on.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * Returns at once.
 */
NURVA_API void NURVA_CALL InitChannel(int32_t channel, int32_t* res, char* text);

/**
 * @brief Lets go of the target device.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 "target release": the programmer answered (any answer).
 * - 9 "communication error": no answer in five waits.
 * - 3 "TESK not found": no programmer usable on the channel; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At most about 10 s (five waits of 2 s).
 */
NURVA_API void NURVA_CALL ReleaseTarget(int32_t channel, int32_t* res, char* text);

/**
 * @brief Asks for the state of the target device.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes below or a channel answer; unchanged when the
 *   programmer names a state without meaning. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 "empty"
 * - 10 "power down"
 * - 12 "wrong ID": the target is not the project's device.
 * - 19 "protected"
 * - 20 "not empty"
 * - 37 "File error": the programmer refused (or did not answer).
 * - an empty text and `*res` unchanged: the programmer named a state without meaning.
 * - 3 "TESK not found": no programmer usable on the channel; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At most about 4 s (two replies).
 */
NURVA_API void NURVA_CALL CheckDevice(int32_t channel, int32_t* res, char* text);

/**
 * @brief Reads the target voltage.
 *
 * @param channel the programmer's channel.
 * @param[out] Volt receives the voltage in units of 10 mV (330 is 3.3 V); 0 when no value
 *   came. Left as it was after a channel answer. May be null.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 and the voltage in volts in its shortest form, with the user's decimal separator: "3.3",
 *   "5", "12.34", "0". A target without power reads "0" with 1: check `Volt`, not only `res`.
 * - 9 "communication error": no voltage came; `Volt` is 0.
 * - 3 "TESK not found": no programmer usable on the channel; nothing is sent, `Volt` is 0.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At most about 2 s (one reply).
 */
NURVA_API void NURVA_CALL GetTargVolt(int32_t channel, int32_t* Volt, int32_t* res, char* text);

/**
 * @brief Reads one fuse byte of the target.
 *
 * @param channel the programmer's channel.
 * @param selfuse which fuse byte: its low byte goes to the programmer unchanged, as the
 *   programmer's own selector character; the library does not check it.
 * @param[out] fuse receives the fuse byte, 0 to 255; 255 whenever no value came. Left as it
 *   was after a channel answer. May be null.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 and the byte as two hexadecimal digits with capital letters: "0F", "E2".
 * - 10 "device power down"
 * - 12 "wrong device ID"
 * - 19 "device protected"
 * - 9 "communication error": the programmer refused the byte without saying why.
 * - 36 "File error": the programmer refused the command (or did not answer).
 * - 3 "TESK not found": no programmer usable on the channel; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At most about 6 s (three replies).
 */
NURVA_API void NURVA_CALL GetFuses(int32_t channel, int32_t selfuse, int32_t* fuse, int32_t* res, char* text);

/** @} */

/**
 * @defgroup files Project files on the card
 * @brief List, check, open, close and delete the project files on the programmer's card, and
 * ask which one is open; the settings of a project; copy a project file onto the card.
 *
 * A file name is the host's NUL-terminated 8-bit string; a null pointer answers 29 "parameter
 * error" and sends nothing. Names go out as at most their first 64 characters. One project
 * at a time is open on a programmer; the open project is the programmer's state, not the
 * library's.
 * @{
 */

/**
 * @brief Lists the project files on the card.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the listing or the text below. May be null.
 *
 * @par Answers
 * - 1 and the listing: exactly 15 lines, each a file name (or nothing) and CR LF, at most
 *   990 characters; the names come in the programmer's order, without surrounding blanks.
 * - 37 "MMC check failed": the card cannot list; the status of GetProgStatus becomes 37 too.
 * - 9 "communication error": the programmer stopped sending names.
 * - 3 "TESK not found": no programmer usable on the channel; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * About 2 s with a programmer that answers (the fixed pauses). A silent programmer gets 37
 * "MMC check failed" after about 2.5 s; one that stops sending names ends the call about 21 s
 * after the last name that came.
 */
NURVA_API void NURVA_CALL GetFileNames(int32_t channel, int32_t* res, char* text);

/**
 * @brief Checks one project file on the card.
 *
 * @param channel the programmer's channel.
 * @param[in] fileName the file's name on the card; spaces and control characters at both ends
 *   are trimmed first.
 * @param[out] res receives one of the codes below or a channel answer; unchanged when the
 *   programmer's answer has no meaning. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 "File check ok"
 * - 33 "File check failed"
 * - 35 "MMC File Exist": the programmer refused at once; also when it does not answer, or no
 *   programmer is usable on the channel (the call has no presence check).
 * - an empty text and `*res` unchanged: an answer without meaning.
 * - 29 "parameter error": `fileName` is null; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At least 100 ms; at most about 4 s (two replies).
 */
NURVA_API void NURVA_CALL CheckAfile(int32_t channel, const char* fileName, int32_t* res, char* text);

/**
 * @brief Opens a project file on the card; the erase, program, verify and block commands
 * work from the open project.
 *
 * @param channel the programmer's channel.
 * @param[in] fileName the file's name on the card, sent as given (not trimmed).
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 "file open": also when the programmer does not name the target's state at the end.
 * - 36 "file not found": also when the programmer does not answer, or no programmer is usable
 *   on the channel (the call has no presence check).
 * - 33 "invalide file"
 * - 10 "device power down", 12 "wrong device ID", 19 "device protected": the target's state.
 * - 9 "communication error": the programmer could not talk to the target.
 * - 29 "parameter error": `fileName` is null; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At most about 8 s (four replies).
 */
NURVA_API void NURVA_CALL OpenAfile(int32_t channel, const char* fileName, int32_t* res, char* text);

/**
 * @brief Closes the open project file.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 "file closed": on any answer of the programmer.
 * - 9 "communication error": no answer in five waits.
 * - 3 "TESK not found": no programmer usable on the channel; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At most about 10 s (five waits of 2 s).
 */
NURVA_API void NURVA_CALL CloseAfile(int32_t channel, int32_t* res, char* text);

/**
 * @brief Deletes a project file from the card.
 *
 * @param channel the programmer's channel.
 * @param[in] fileName the file's name on the card, sent as given (not trimmed).
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 "File deleted"
 * - 37 "delete failed": refused, no answer, or no programmer usable on the channel (the call
 *   has no presence check).
 * - 29 "parameter error": `fileName` is null; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At most about 2 s (one reply).
 */
NURVA_API void NURVA_CALL DeleteAfile(int32_t channel, const char* fileName, int32_t* res, char* text);

/**
 * @brief Asks which project file is open.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the file name or the text below. May be null.
 *
 * @par Answers
 * - 1 and the open file's name (at most 64 characters).
 * - 34 "file closed": no file is open (also when the programmer does not answer).
 * - 36 and an empty text: the programmer names no file.
 * - 9 "communication error": the programmer said a file is open but sent no name.
 * - 3 "TESK not found": no programmer usable on the channel; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * At most about 8 s (four replies).
 */
NURVA_API void NURVA_CALL GetFileState(int32_t channel, int32_t* res, char* text);

/**
 * @brief The settings of a project file on the card, as a report of twelve lines.
 *
 * Each line ends with CR LF: name; file date and time; date; info text; target clock; Flash
 * size; EEprom size; user row size (PDI targets only, else "none"); verify option ("yes" or
 * "no"); interface ("SPI", "JTAG", "PDI", "TPI", or "unknown " with its trailing blank);
 * protection ("none", "AES", "AES+PWD", "AES+PWD+QNT": the features of the open project);
 * target power ("Target itself", or for instance "TESK  3.30V  max 30mA"). Dates read
 * yyyy.mmm.dd; the month names, the time format and the decimal separator are the user's.
 *
 * @param channel the programmer's channel.
 * @param[in] fileName the file's name on the card; spaces and control characters at both ends
 *   are trimmed first.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the report or the text below. May be null.
 *
 * @par Answers
 * - 1 and the report (under 400 characters).
 * - 36 "File not found": also when the programmer does not answer, or no programmer is usable
 *   on the channel (the call has no presence check).
 * - 33 "File check error"
 * - 9 "communication error1": the programmer refused to send the settings.
 * - 9 "communication error2": the settings came short, or longer than their 195 bytes.
 * - 29 "parameter error": `fileName` is null; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * About 8 s when the programmer is silent (2 s for each of the two parts of the protection
 * reply, 4 s for the first reply about the file); at most about 24 s when each reply comes
 * just within its limit.
 */
NURVA_API void NURVA_CALL GetProjParams(int32_t channel, const char* fileName, int32_t* res, char* text);

/**
 * @brief Copies a project file from the PC onto the card.
 *
 * The file gets a short name on the card: its name without directories ('\\', '/' or ':'),
 * extension and spaces, cut to 8 characters, then the extension in capitals ("My
 * Project.pack" becomes "MyProjec.PACK"). The extension must be .PACK or .PAC, or begin
 * with .EN or .PK, in any case. The programmer is checked first (as CheckProgrammer, whose
 * status stays for GetProgStatus); the whole file is read into memory before anything goes
 * to the card, then sent in blocks of 128 bytes, each acknowledged.
 *
 * @param channel the programmer's channel.
 * @param[in] fileName the path of the file on the PC, in the 8-bit encoding that the C
 *   library's fopen takes; blanks and control characters at both ends are trimmed.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 "ok": every block and the whole file acknowledged.
 * - 3 "TESK not found": the programmer check found no programmer.
 * - 34 "invalid file name": the extension is not accepted; no file is made on the card.
 * - 34 "File not found": the file is missing or cannot be read; no file is made on the card.
 * - 8 "communication error": the programmer refused the time stamp.
 * - 35 "File exists": the card has a file of that name.
 * - 37 "File create failed"
 * - 38 "filesize mismatch": a block or the whole file was not acknowledged; what came stays
 *   on the card.
 * - 29 "parameter error": `fileName` is null; nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * @par Blocks
 * A prompt programmer takes a few ms per block plus 0.1 s at the end (64 KiB take about 1.2 s
 * on the virtual programmer).
 * Each block waits for its acknowledgement up to 10 times 2 s: a programmer that stops
 * answering ends the call about 22 s later.
 * @par Threads
 * Windows: dispatches the calling thread's pending window messages after every 32nd block;
 * a handler's call on this channel then answers "Busy" with 5, calls on other channels run.
 */
NURVA_API void NURVA_CALL DownloadFile(int32_t channel, const char* fileName, int32_t* res, char* text);

/** @} */

/**
 * @defgroup jobs Erase, program and verify
 * @brief Erase the target, program fuses and lock bits, start programming and verifying jobs;
 * all from the project open on the card.
 *
 * The erase commands and ProgFuses and ProgLockBits return with the outcome. The start
 * commands (ProgDevice, ProgFlash, ProgEEprom, ProgUsrRow, VerifyDevice, VerifyFlashOnly,
 * VerifyEEpromOnly) drop the statuses still queued from an earlier job, start the job and
 * return within 3 s once the programmer has accepted it; the job then runs on in the
 * programmer, and GetProgStatus follows it to its end. The channel is free again as soon as
 * the start call has returned; a new start drops the statuses of a job not yet collected.
 *
 * Refusals of the start commands and of ProgFuses and ProgLockBits, which GetProgStatus then
 * also reports as its code (with the text it had before):
 * - 37 "File Error": refused (no usable open project), also no answer within 3 s.
 * - 10 "device power down", 12 "wrong device ID", 19 "device protected": the target's state.
 * - 20 "device not empty": only where the call says so; the others take it as accepted.
 * - 9 "communication error": the programmer's own time-out, or an answer without meaning
 *   (ProgDevice takes an answer without meaning as accepted).
 *
 * Every command of this group answers 3 "TESK not found" while no programmer is usable on the
 * channel (nothing is sent), and gives the @ref channel_answers "channel answers".
 * @{
 */

/**
 * @brief Erases the whole target chip.
 *
 * The queue of what the programmer sent is not emptied first: call it while no job runs.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes below or a channel answer. May be null.
 * @param[out] text receives the text below. May be null.
 *
 * @par Answers
 * - 1 "chip erased"
 * - 33 "file error": refused (no usable open project), also no answer.
 * - 10 "power down"
 * - 20 "erased failed"
 * - 3 "TESK not found" and the channel answers, as for the whole group.
 *
 * @par Blocks
 * At most about 6 s (three replies).
 */
NURVA_API void NURVA_CALL EraseDevice(int32_t channel, int32_t* res, char* text);

/**
 * @brief Erases the target in the programmer's second way (command 'G'); answers as
 * EraseDevice, "chip erased" included.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes of EraseDevice or a channel answer. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At most about 6 s (three replies).
 */
NURVA_API void NURVA_CALL EraseDeviceX(int32_t channel, int32_t* res, char* text);

/**
 * @brief Erases the target's user signature row; answers as EraseDevice, "chip erased"
 * included.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives one of the codes of EraseDevice or a channel answer. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At most about 6 s (three replies).
 */
NURVA_API void NURVA_CALL EraseDeviceUsr(int32_t channel, int32_t* res, char* text);

/**
 * @brief Starts programming the whole device from the open project.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives 1 or one of the refusals of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "programming": the job runs; follow it with GetProgStatus. Also for "device not empty"
 *   and for an answer without meaning.
 * - the refusals, "TESK not found" and the channel answers of the group.
 *
 * @par Blocks
 * At most about 3 s.
 */
NURVA_API void NURVA_CALL ProgDevice(int32_t channel, int32_t* res, char* text);

/**
 * @brief Starts programming the Flash from the open project.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives 1 or one of the refusals of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "prog Flash": the job runs; follow it with GetProgStatus.
 * - 20 "device not empty": a refusal here; erase first.
 * - the refusals, "TESK not found" and the channel answers of the group.
 *
 * @par Blocks
 * At most about 3 s.
 */
NURVA_API void NURVA_CALL ProgFlash(int32_t channel, int32_t* res, char* text);

/**
 * @brief Starts programming the EEprom from the open project.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives 1 or one of the refusals of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "prog EEprom": the job runs; follow it with GetProgStatus. Also for "device not empty".
 * - the refusals, "TESK not found" and the channel answers of the group.
 *
 * @par Blocks
 * At most about 3 s.
 */
NURVA_API void NURVA_CALL ProgEEprom(int32_t channel, int32_t* res, char* text);

/**
 * @brief Starts programming the user signature row from the open project.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives 1 or one of the refusals of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "prog UsrRow": the job runs; follow it with GetProgStatus. Also for "device not empty".
 * - the refusals, "TESK not found" and the channel answers of the group.
 *
 * @par Blocks
 * At most about 3 s.
 */
NURVA_API void NURVA_CALL ProgUsrRow(int32_t channel, int32_t* res, char* text);

/**
 * @brief Programs the fuses from the open project, in one step: no status follows.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives 1 or one of the refusals of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "fuses programmed": also for "device not empty".
 * - the refusals, "TESK not found" and the channel answers of the group.
 *
 * @par Blocks
 * At most about 3 s.
 */
NURVA_API void NURVA_CALL ProgFuses(int32_t channel, int32_t* res, char* text);

/**
 * @brief Programs the lock bits from the open project, in one step: no status follows.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives 1 or one of the refusals of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "locks programmed": also for "device not empty".
 * - the refusals, "TESK not found" and the channel answers of the group.
 *
 * @par Blocks
 * At most about 3 s.
 */
NURVA_API void NURVA_CALL ProgLockBits(int32_t channel, int32_t* res, char* text);

/**
 * @brief Starts verifying the whole device against the open project.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives 1 or one of the refusals of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "verifying": the job runs; follow it with GetProgStatus.
 * - 20 "device not empty": a refusal here.
 * - the refusals, "TESK not found" and the channel answers of the group.
 *
 * @par Blocks
 * At most about 3 s.
 */
NURVA_API void NURVA_CALL VerifyDevice(int32_t channel, int32_t* res, char* text);

/**
 * @brief Starts verifying the Flash against the open project; answers as VerifyDevice.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives 1 "verifying" or one of the refusals of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At most about 3 s.
 */
NURVA_API void NURVA_CALL VerifyFlashOnly(int32_t channel, int32_t* res, char* text);

/**
 * @brief Starts verifying the EEprom against the open project; answers as VerifyDevice.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives 1 "verifying" or one of the refusals of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At most about 3 s.
 */
NURVA_API void NURVA_CALL VerifyEEpromOnly(int32_t channel, int32_t* res, char* text);

/** @} */

/**
 * @defgroup status Progress status
 * @brief Follow a running program or verify job to its end.
 * @{
 */

/**
 * @brief Takes the next status of a running program or verify job and answers the channel's
 * status.
 *
 * Call it again and again after a start command until `res` is 2 or an error code. Each
 * call takes the programmer's next status (a run of equal ones at once); when none is
 * pending it repeats the previous answer. Until the first status comes, the answer is 1 with
 * the text of the channel's previous status (for instance "TESK found"). The final answer
 * stays until another command changes it. The library sets no time limit on a job: the
 * programmer reports its own time-out, and the host decides when to give up.
 *
 * @param channel the programmer's channel.
 * @param[out] res receives the status code below or a channel answer. May be null.
 * @param[out] text receives the status text. May be null.
 *
 * @par Answers while the job runs
 * 1, 15 "erase Chip", 21 "prog Flash", 22 "prog EEprom", 23 "prog UsrRow", 24 "verify
 * Flash", 25 "verify EEprom", 26 "verify UsrRow".
 * @par Answers at the end
 * - 2 "operation successful"
 * - 9 "progTimeOutError": the programmer's time-out.
 * - 10 "Device Power down", 12 "Wrong signature", 19 "Device protected", 20 "Device not empty"
 * - 14 "Device count exceeded" or "Device limit exceeded": the project's limit on the number
 *   of devices is reached.
 * - 27 "Verify error"
 * - the @ref channel_answers "channel answers"; "Busy" 5 while another call runs on the
 *   channel.
 *
 * Outside a job it answers the status the last command left: after CheckProgrammer for
 * instance "TESK found" with 4.
 *
 * @par Blocks
 * At most about 50 ms (when no status is pending).
 * @par Threads
 * Holds the channel's busy mark while it reads (at most about 50 ms). While another call
 * runs on the channel it reads nothing and answers "Busy" with 5, so the statuses wait for
 * the next poll; a call on the channel during a poll answers "Busy" with 5 in turn.
 */
NURVA_API void NURVA_CALL GetProgStatus(int32_t channel, int32_t* res, char* text);

/** @} */

/**
 * @defgroup readback Read back
 * @brief One block of the target's Flash (F), user signature row (U) or EEprom (E) per call.
 *
 * The programmer reads the block from the target and sends it with its 16-bit checksum; the
 * bytes go straight into the host's memory at `pDestAddr`, also when the checksum then fails;
 * bytes past the ones that came are not touched. `ChipAddr` goes to the programmer unchanged
 * (its unit is the programmer's); read a larger memory block by block.
 *
 * Answers of all three:
 * - 1 "resOK": block and checksum came and agree.
 * - 30 "checksum error": the checksum differs, or no block or no checksum came.
 * - 37 "File error": no go-ahead for the block commands (no usable open project).
 * - 37 "file encrypted": the programmer refuses to read back.
 * - 10 "device power down", 12 "wrong device ID", 19 "device protected", 30 "communication
 *   error": the target's state before the read.
 * - 3 "TESK not found": no programmer usable on the channel; nothing is sent.
 * - 29 "parameter error": a null `pDestAddr` (or, for ReadBackChipE, a `PageCount` outside 1
 *   to 256); nothing is sent.
 * - the @ref channel_answers "channel answers".
 *
 * Each call blocks at least 150 ms (170 ms for E), and at most about 10 s (five replies of
 * up to 2 s each).
 * @{
 */

/**
 * @brief Reads 256 bytes of the target's Flash.
 *
 * @param channel the programmer's channel.
 * @param[out] pDestAddr receives the block: 256 writable bytes.
 * @param ChipAddr the block's address, sent unchanged.
 * @param[out] res receives one of the codes of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At least 150 ms, at most about 10 s (five replies).
 */
NURVA_API void NURVA_CALL ReadBackChipF(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t* res, char* text);

/**
 * @brief Reads `PageCount` bytes of the target's EEprom.
 *
 * @param channel the programmer's channel.
 * @param[out] pDestAddr receives the block: `PageCount` writable bytes.
 * @param ChipAddr the block's address, sent unchanged.
 * @param PageCount the block's length, 1 to 256; outside that range the call answers 29
 *   "parameter error".
 * @param[out] res receives one of the codes of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At least 170 ms, at most about 10 s (five replies).
 */
NURVA_API void NURVA_CALL ReadBackChipE(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t PageCount,
                                        int32_t* res, char* text);

/**
 * @brief Reads 256 bytes of the target's user signature row.
 *
 * @param channel the programmer's channel.
 * @param[out] pDestAddr receives the block: 256 writable bytes.
 * @param ChipAddr the block's address, sent unchanged.
 * @param[out] res receives one of the codes of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At least 150 ms, at most about 10 s (five replies).
 */
NURVA_API void NURVA_CALL ReadBackChipU(int32_t channel, uint8_t* pDestAddr, int32_t ChipAddr, int32_t* res, char* text);

/** @} */

/**
 * @defgroup blocks Block transfers
 * @brief Blocks written into the target (program and over blocks) or into the memory image
 * of the project open on the card (file blocks), and fetched from that image (up-file
 * blocks), for Flash (F), EEprom (E) and the user signature row (U).
 *
 * Every call moves one block; `dest` goes to the programmer as 4 bytes, unchanged. Every data
 * byte is a packet of its own, so a block of n bytes costs n transfers. The memory's error
 * code below is 30 for F, 31 for E, 32 for U.
 *
 * Answers of all twelve:
 * - 3 "TESK not found": no programmer usable on the channel; nothing is sent.
 * - 37 "File error": no go-ahead for the block commands (no usable open project).
 * - 29 "parameter error": a null `Block`, or a `Count` outside the call's range; nothing is
 *   sent.
 * - the @ref channel_answers "channel answers".
 * @{
 */

/**
 * @brief Writes the first 256 bytes of `Block` into the target's Flash at `dest`.
 *
 * The programmer checks the target first.
 *
 * @param channel the programmer's channel.
 * @param[in] Block the data: 256 bytes.
 * @param dest the block's address, sent unchanged.
 * @param[out] res receives one of the codes below or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "ok": also when the programmer gives no final answer.
 * - before the data: 10 "device power down", 12 "wrong device ID", 19 "device protected",
 *   30 "communication error1" (30 for all three memories).
 * - the memory's code with "communication error3": the data was not confirmed.
 * - after the data: 11 "low voltage", 12 "wrong device", 19 "device protected", 27 "verify
 *   error".
 * - the answers of the group.
 *
 * @par Blocks
 * At least 200 ms plus the 256 transfers; at most about 10 s (five replies) plus the
 * transfers.
 */
NURVA_API void NURVA_CALL DownProgBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t* res, char* text);

/**
 * @brief Writes the first `Count` bytes of `Block` into the target's EEprom at `dest`;
 * answers as DownProgBlockF, with 31 as the memory's code.
 *
 * @param channel the programmer's channel.
 * @param[in] Block the data: `Count` bytes.
 * @param dest the block's address, sent unchanged.
 * @param Count the number of bytes, 1 to 256; outside that range the call answers 29
 *   "parameter error".
 * @param[out] res receives one of the codes of DownProgBlockF or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At least 200 ms plus `Count` transfers; at most about 10 s (five replies) plus the
 * transfers.
 */
NURVA_API void NURVA_CALL DownProgBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);

/**
 * @brief Writes the first 256 bytes of `Block` into the target's user signature row at
 * `dest`; answers as DownProgBlockF, with 32 as the memory's code.
 *
 * @param channel the programmer's channel.
 * @param[in] Block the data: 256 bytes.
 * @param dest the block's address, sent unchanged.
 * @param[out] res receives one of the codes of DownProgBlockF or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At least 200 ms plus the 256 transfers; at most about 10 s (five replies) plus the
 * transfers.
 */
NURVA_API void NURVA_CALL DownProgBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t* res, char* text);

/**
 * @brief Writes a short block of 1 to 32 bytes into the target's Flash at `dest`, within one
 * 256-byte page.
 *
 * @param channel the programmer's channel.
 * @param[in] Block the data: `Count` bytes.
 * @param dest the block's address, sent unchanged.
 * @param Count the number of bytes, 1 to 32; the block must stay within one 256-byte page
 *   (`dest` / 256 equals (`dest` + `Count` - 1) / 256, dividing toward zero), else the call
 *   answers 29 "parameter error".
 * @param[out] res receives one of the codes below or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "ok"
 * - 9 "communication error": the programmer refused (or did not answer) at any step.
 * - the answers of the group.
 *
 * @par Blocks
 * No fixed pauses; at most about 8 s (four replies) plus the transfers.
 */
NURVA_API void NURVA_CALL DownOverBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);

/**
 * @brief Writes a short block of 1 to 32 bytes into the target's EEprom; as DownOverBlockF.
 *
 * @param channel the programmer's channel.
 * @param[in] Block the data: `Count` bytes.
 * @param dest the block's address, sent unchanged.
 * @param Count the number of bytes, 1 to 32, within one 256-byte page (see DownOverBlockF).
 * @param[out] res receives one of the codes of DownOverBlockF or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At most about 8 s (four replies) plus the transfers.
 */
NURVA_API void NURVA_CALL DownOverBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);

/**
 * @brief Writes a short block of 1 to 32 bytes into the target's user signature row; as
 * DownOverBlockF.
 *
 * @param channel the programmer's channel.
 * @param[in] Block the data: `Count` bytes.
 * @param dest the block's address, sent unchanged.
 * @param Count the number of bytes, 1 to 32, within one 256-byte page (see DownOverBlockF).
 * @param[out] res receives one of the codes of DownOverBlockF or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At most about 8 s (four replies) plus the transfers.
 */
NURVA_API void NURVA_CALL DownOverBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);

/**
 * @brief Writes `Count` bytes into the Flash image of the project open on the card.
 *
 * @param channel the programmer's channel.
 * @param[in] Block the data: `Count` bytes.
 * @param dest the address in the image, sent unchanged.
 * @param Count the number of bytes, 0 to 65535; outside that range the call answers 29
 *   "parameter error".
 * @param[out] res receives one of the codes below or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "ok"
 * - the memory's code (30 here) with "file is encrypted": the programmer refuses to write the
 *   image; "communication error": the block's address and length were not confirmed;
 *   "checksum error": the data was not confirmed.
 * - the answers of the group.
 *
 * @par Blocks
 * At least 430 ms plus `Count` transfers; at most about 8.5 s (four replies) plus the
 * transfers.
 */
NURVA_API void NURVA_CALL DownFileBlockF(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);

/**
 * @brief Writes `Count` bytes into the EEprom image of the open project; as DownFileBlockF,
 * with 31 as the memory's code.
 *
 * @param channel the programmer's channel.
 * @param[in] Block the data: `Count` bytes.
 * @param dest the address in the image, sent unchanged.
 * @param Count the number of bytes, 0 to 65535.
 * @param[out] res receives one of the codes of DownFileBlockF or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At least 430 ms plus `Count` transfers; at most about 8.5 s (four replies) plus the
 * transfers.
 */
NURVA_API void NURVA_CALL DownFileBlockE(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);

/**
 * @brief Writes `Count` bytes into the user signature row image of the open project; as
 * DownFileBlockF, with 32 as the memory's code.
 *
 * @param channel the programmer's channel.
 * @param[in] Block the data: `Count` bytes.
 * @param dest the address in the image, sent unchanged.
 * @param Count the number of bytes, 0 to 65535.
 * @param[out] res receives one of the codes of DownFileBlockF or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At least 430 ms plus `Count` transfers; at most about 8.5 s (four replies) plus the
 * transfers.
 */
NURVA_API void NURVA_CALL DownFileBlockU(int32_t channel, const uint8_t* Block, int32_t dest, int32_t Count,
                                         int32_t* res, char* text);

/**
 * @brief Fetches `Count` bytes of the Flash image of the project open on the card.
 *
 * @param channel the programmer's channel.
 * @param[out] Block receives the data: `Count` writable bytes. When the data stops coming,
 *   the rest of the block is filled with 0x15.
 * @param dest the address in the image, sent unchanged.
 * @param Count the number of bytes, 0 to 65535; outside that range the call answers 29
 *   "parameter error".
 * @param[out] res receives one of the codes below or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Answers
 * - 1 "ok": the data and its checksum came and agree.
 * - 37 "File error": the programmer refuses to read the image.
 * - the memory's code (30 here) with "communication error": the block's address and length
 *   were not confirmed; "checksum error": the checksum differs or did not come, or the data
 *   stopped coming.
 * - the answers of the group.
 *
 * @par Blocks
 * At least 330 ms plus `Count` replies (a few ms each); about 8.5 s at most when the
 * programmer stops answering, longer only while bytes keep coming, each within 2 s.
 */
NURVA_API void NURVA_CALL UpFileBlockF(int32_t channel, uint8_t* Block, int32_t dest, int32_t Count, int32_t* res,
                                       char* text);

/**
 * @brief Fetches `Count` bytes of the EEprom image of the open project; as UpFileBlockF,
 * with 31 as the memory's code.
 *
 * @param channel the programmer's channel.
 * @param[out] Block receives the data: `Count` writable bytes.
 * @param dest the address in the image, sent unchanged.
 * @param Count the number of bytes, 0 to 65535.
 * @param[out] res receives one of the codes of UpFileBlockF or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At least 330 ms plus `Count` replies; about 8.5 s at most when the programmer stops
 * answering.
 */
NURVA_API void NURVA_CALL UpFileBlockE(int32_t channel, uint8_t* Block, int32_t dest, int32_t Count, int32_t* res,
                                       char* text);

/**
 * @brief Fetches `Count` bytes of the user signature row image of the open project; as
 * UpFileBlockF, with 32 as the memory's code.
 *
 * @param channel the programmer's channel.
 * @param[out] Block receives the data: `Count` writable bytes.
 * @param dest the address in the image, sent unchanged.
 * @param Count the number of bytes, 0 to 65535.
 * @param[out] res receives one of the codes of UpFileBlockF or of the group. May be null.
 * @param[out] text receives the text. May be null.
 *
 * @par Blocks
 * At least 330 ms plus `Count` replies; about 8.5 s at most when the programmer stops
 * answering.
 */
NURVA_API void NURVA_CALL UpFileBlockU(int32_t channel, uint8_t* Block, int32_t dest, int32_t Count, int32_t* res,
                                       char* text);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* NURVA_DLL_H */
