# SPDX-License-Identifier: GPL-3.0-or-later
# Copies the experiment catalogue beside the executable; a checkout without one gets an empty folder.
file(MAKE_DIRECTORY ${DEST})
if(EXISTS ${SRC})
    file(COPY ${SRC}/ DESTINATION ${DEST})
endif()
