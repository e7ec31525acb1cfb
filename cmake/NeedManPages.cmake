# Run by cpack when the build had no scdoc: a package without its man pages is not made.
message(FATAL_ERROR "tav: the package needs the man pages; install scdoc, configure and build again")
