/* A zlib library that exports less than the real one: everything comes from
   the static zlib; the .def file picks the names. */
