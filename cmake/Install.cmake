# Installation of the component as a CMake package: see the comport target.
