#include "core/error.h"

#include <atomic>
#include <cstdio>
#include <iterator>
#include <mutex>

// Each text is its own array so that no two codes can share an address.
namespace {
constexpr char t_ok[] = "Operation OK";
constexpr char t_unknown[] = "Unknown error";
constexpr char t_file_open[] = "Cannot open file";
constexpr char t_file_read[] = "Cannot read file";
constexpr char t_file_close[] = "Cannot close file";
constexpr char t_mem_alloc[] = "Cannot allocate memory";
constexpr char t_mem_realloc[] = "Cannot re-allocate memory";
constexpr char t_mem_free[] = "Cannot free memory";
constexpr char t_param_required[] = "Argument required";
constexpr char t_res_load[] = "Cannot load resource";
constexpr char t_res_find[] = "Cannot find resource";
constexpr char t_res_lock[] = "Cannot lock resource";
constexpr char t_audio[] = "Audio operating error";
constexpr char t_audio_open[] = "Cannot open audio device";
constexpr char t_audio_in_stop[] = "Cannot stop input audio device";
constexpr char t_audio_in_close[] = "Cannot close input audio device";
constexpr char t_audio_out_reset[] = "Cannot reset output audio device";
constexpr char t_audio_out_close[] = "Cannot close output audio device";
constexpr char t_cmd_not_found[] = "Command not found";
constexpr char t_cmd_not_param[] = "Param not found";
constexpr char t_cmd_not_space[] = "Not enough space for command result";
}  // namespace

const QZ_error QZ_OK = t_ok;
const QZ_error QZ_ERROR_UNKNOWN = t_unknown;
const QZ_error QZ_ERROR_FILE_CANNOT_OPEN = t_file_open;
const QZ_error QZ_ERROR_FILE_CANNOT_READ = t_file_read;
const QZ_error QZ_ERROR_FILE_CANNOT_CLOSE = t_file_close;
const QZ_error QZ_ERROR_MEMORY_CANNOT_ALLOCATE = t_mem_alloc;
const QZ_error QZ_ERROR_MEMORY_CANNOT_REALLOC = t_mem_realloc;
const QZ_error QZ_ERROR_MEMORY_CANNOT_FREE = t_mem_free;
const QZ_error QZ_ERROR_PARAM_REQUIRED = t_param_required;
const QZ_error QZ_ERROR_RESOURCE_CANNOT_LOAD = t_res_load;
const QZ_error QZ_ERROR_RESOURCE_CANNOT_FIND = t_res_find;
const QZ_error QZ_ERROR_RESOURCE_CANNOT_LOCK = t_res_lock;
const QZ_error QZ_ERROR_AUDIO = t_audio;
const QZ_error QZ_ERROR_AUDIO_CANNOT_OPEN = t_audio_open;
const QZ_error QZ_ERROR_AUDIO_CANNOT_INPUT_STOP = t_audio_in_stop;
const QZ_error QZ_ERROR_AUDIO_CANNOT_INPUT_CLOSE = t_audio_in_close;
const QZ_error QZ_ERROR_AUDIO_CANNOT_OUTPUT_RESET = t_audio_out_reset;
const QZ_error QZ_ERROR_AUDIO_CANNOT_OUTPUT_CLOSE = t_audio_out_close;
const QZ_error QZ_ERROR_COMMAND_NOT_FOUND = t_cmd_not_found;
const QZ_error QZ_ERROR_COMMAND_NOT_PARAM = t_cmd_not_param;
const QZ_error QZ_ERROR_COMMAND_NOT_SPACE = t_cmd_not_space;

const QZ_error* const QZ_error_codes[] = {
    &QZ_OK,
    &QZ_ERROR_UNKNOWN,
    &QZ_ERROR_FILE_CANNOT_OPEN,
    &QZ_ERROR_FILE_CANNOT_READ,
    &QZ_ERROR_FILE_CANNOT_CLOSE,
    &QZ_ERROR_MEMORY_CANNOT_ALLOCATE,
    &QZ_ERROR_MEMORY_CANNOT_REALLOC,
    &QZ_ERROR_MEMORY_CANNOT_FREE,
    &QZ_ERROR_PARAM_REQUIRED,
    &QZ_ERROR_RESOURCE_CANNOT_LOAD,
    &QZ_ERROR_RESOURCE_CANNOT_FIND,
    &QZ_ERROR_RESOURCE_CANNOT_LOCK,
    &QZ_ERROR_AUDIO,
    &QZ_ERROR_AUDIO_CANNOT_OPEN,
    &QZ_ERROR_AUDIO_CANNOT_INPUT_STOP,
    &QZ_ERROR_AUDIO_CANNOT_INPUT_CLOSE,
    &QZ_ERROR_AUDIO_CANNOT_OUTPUT_RESET,
    &QZ_ERROR_AUDIO_CANNOT_OUTPUT_CLOSE,
    &QZ_ERROR_COMMAND_NOT_FOUND,
    &QZ_ERROR_COMMAND_NOT_PARAM,
    &QZ_ERROR_COMMAND_NOT_SPACE,
};
const std::size_t QZ_error_code_count = std::size(QZ_error_codes);

namespace {
std::mutex g_error_mutex;
char g_error_text[QZ_ERROR_TEXT_SIZE];
std::atomic<QZ_message_box_fn> g_hook{nullptr};

const char* safe(const char* s) { return s ? s : "(null)"; }
}  // namespace

int QZ_error_func(const char* file, int line, const char* proc, const char* date, const char* time,
                  const char* error) {
    std::lock_guard<std::mutex> lock(g_error_mutex);
    // snprintf cuts the report to the buffer and always ends it with a zero byte.
    std::snprintf(g_error_text, sizeof g_error_text,
                  "Error: %s\nFile: %s\nLine: %d\nProc: %s\nDate: %s\nTime: %s", safe(error), safe(file),
                  line, safe(proc), safe(date), safe(time));
    return QZ_message_box(g_error_text, "ERROR");
}

const char* QZ_error_text() { return g_error_text; }

QZ_message_box_fn QZ_set_message_box(QZ_message_box_fn hook) { return g_hook.exchange(hook); }

int QZ_message_box(const char* text, const char* caption) {
    if (QZ_message_box_fn hook = g_hook.load()) return hook(safe(text), safe(caption));
    return QZ_platform_message_box(safe(text), safe(caption));
}

void QZ_initall() {}
