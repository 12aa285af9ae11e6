// The base of the export writers: open the output, write one record at a
// time, close it. finish() checks what was written: a write that failed
// anywhere makes finish() throw instead of leaving a truncated file behind.
#pragma once

template <class Record>
class AbsFormatExport {
public:
    virtual ~AbsFormatExport() = default;
    // Opens the output; throws AppError with the file's error text.
    virtual void begin() = 0;
    virtual void write(const Record& record) = 0;
    // Completes the output; throws AppError when any write failed.
    virtual void finish() = 0;
    // Drops everything written so far (after a cancel or an error).
    virtual void discard() = 0;
};
