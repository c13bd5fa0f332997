/* The version of libQUILLBOXCE, kept in the library for diagnostics (strings(1) shows it). */
const char quillbox_library_version[] __attribute__((used)) = "QUILLBOXCE 0.1.0";
