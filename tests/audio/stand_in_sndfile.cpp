// Built as a libsndfile.so.1 that has none of libsndfile's functions, for
// NoSndfileTest.cpp: what the program does when the library it loads on
// first use is not a usable libsndfile.
extern "C" int recorder_stand_in_sndfile()
{
    return 0;
}
