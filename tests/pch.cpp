// Holds the precompiled headers the test programs share.
