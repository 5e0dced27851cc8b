# The fuzz targets: <name>_fuzz.cpp builds fuzz_<name>, whose starting inputs are in corpus/<name>/.
set(QVR_FUZZ_TARGETS hive queue_files track_info track_url request_line)
