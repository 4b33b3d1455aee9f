// Files replaced in one step. What a program saves is written into a temporary
// file beside the target and moved over it only when complete, so a failed,
// interrupted or killed write leaves the old file as it was. The portable part
// (atomic_file.cpp) keeps the list of temporaries in progress; the system calls
// live in atomic_file_posix.cpp and atomic_file_win32.cpp.
#pragma once

#include <cstdio>
#include <string>

// Creates and opens for binary writing a new file in the folder of `target`,
// named after it ("TARGET.partPID-N"); its name goes to *temp. Null when no file
// can be created there.
std::FILE* QZ_open_temp_beside(const char* target, std::string* temp);
// Puts `temp` in place of `target` in one step (replacing an existing file),
// its contents on the disk first.
bool QZ_replace_file(const std::string& temp, const char* target);
// True when `path` names something that is not a plain file (a folder, a device,
// a pipe).
bool QZ_not_a_plain_file(const char* path);

class QZ_Atomic_File {
public:
    // Creates the temporary for `target`; ok() tells whether that worked. A target
    // that exists and is no plain file is refused (nothing to replace in one step).
    explicit QZ_Atomic_File(const std::string& target);
    // Removes the temporary unless commit() has put it in place.
    ~QZ_Atomic_File();
    QZ_Atomic_File(const QZ_Atomic_File&) = delete;
    QZ_Atomic_File& operator=(const QZ_Atomic_File&) = delete;

    bool ok() const { return !temp_.empty(); }
    // The temporary, open for binary writing (null once closed).
    std::FILE* stream() { return stream_; }
    // The temporary's name, for writers that open the file themselves; the
    // stream is closed first.
    const std::string& path();
    // Closes the temporary and moves it over the target. False (the temporary
    // removed, the target untouched) when closing or moving fails.
    bool commit();
    // Removes the temporary now.
    void discard();
    // Why the temporary could not be made or put in place.
    const std::string& error() const { return error_; }

private:
    std::string target_, temp_, error_;
    std::FILE* stream_ = nullptr;
    int slot_ = -1;
};

// Whether an interrupt asked the writes in progress to stop (Windows, where the
// console's handler runs beside the writing thread, which then cleans up).
bool QZ_atomic_files_cancelled();

// For programs, never for a plug-in inside someone else's process: a
// termination signal (SIGINT, SIGTERM, SIGHUP; Ctrl+C or a closed console on
// Windows) removes the temporaries in progress before the program ends as it
// would have, and a file-size limit makes the write fail (with an error the
// program reports) instead of killing the program.
void QZ_atomic_files_clean_on_signals();

// The temporaries in progress, for the backends' handlers. Registering copies
// the name into a fixed slot (-1 when all are taken: the file then just is not
// cleaned on a signal); the walk may run in a signal handler.
int QZ_temp_register(const std::string& name);
void QZ_temp_unregister(int slot);
void QZ_temp_for_each(void (*fn)(const char* name));
int QZ_temp_live_count();
void QZ_atomic_files_cancel();
// Cancels, then waits a little (two seconds at most) for the writers to
// remove their temporaries: for a handler that ends the program next.
void QZ_atomic_files_interrupt();
