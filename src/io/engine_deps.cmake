# Libraries the file readers need: the audio decoder.
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
target_link_libraries(plexora_engine PUBLIC PkgConfig::SNDFILE)
