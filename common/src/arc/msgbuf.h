// The shared buffers behind host message parameters: the host's local
// memory, and each process's I/O buffer and CDA buffer, which are runs of
// the I/O pool (pool 0 of vmu.h) handed out by the host's main process.
//
// The main process answers two requests (answerBufferRequest does it):
// function 7 (I/O buffer) and 8 (CDA buffer), each with the integers
// wanted size, current offset and current size. It allocates a run of at
// least the wanted size, copies the current run's bytes into it, frees the
// current run and answers with the integers offset and size of the new
// run (offset 0: refused). A process that is itself the main process, or
// that has none set, does this on its own.
//
// A buffer is reused by every record the process builds: the addressee
// must have read a record's strings before the next record is built.
#ifndef QOR_MSGBUF_H
#define QOR_MSGBUF_H

#include <cstdint>

struct qormsg;

constexpr int kIoPool = 0;  // pool of the I/O and CDA buffers

// The host's local memory as this process sees it. Strings inside it are
// passed by offset from base.
void setBaseLvmu(const void *base, uint32_t size);
const char *getLvmuBase(uint32_t *size);

// This process's I/O buffer: its address, or null when it has none.
// *size (optional) receives its bytes, *offset its offset in the pool.
char *getIoBuffer(uint32_t *size = nullptr, uint32_t *offset = nullptr);
// Makes the I/O buffer at least size bytes (function 7 to the main
// process); the bytes in it move along. The buffer, or null (logged).
char *setIoBufferSize(uint32_t size);
// Forgets the I/O buffer (the run stays with the main process).
void unmapIoBuffer();

// The CDA buffer, the same way (function 8).
char *getCdaBuffer(uint32_t *size = nullptr);
char *setCdaBufferSize(uint32_t size);
void unmapCdaBuffer();
// Hands the CDA buffer to the addressee of msg: its offset and size go in
// as two integer parameters and this process forgets it. False when there
// is none or the record is full.
bool passCdaForward(qormsg *msg);
// Takes over the CDA buffer passed in parameters i and i + 1 of msg, after
// checking that they name one allocated run of the I/O pool. Its address,
// or null (logged).
char *getCdaLocal(const qormsg *msg, int i, uint32_t *size = nullptr);

// In the main process: answers msg when it is a function 7 or 8 request
// (see above) and returns true; false for any other record.
bool answerBufferRequest(qormsg *msg);

#endif
