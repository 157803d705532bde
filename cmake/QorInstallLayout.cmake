# Run by `cmake --install` after the programs are in <prefix>/bin: lays out
# the gateway's folders under <prefix>/qoric, the ones its defaults name
# when the prefix is /usr/local. Whatever is there already (a folder, the
# configuration file) is left as it is, so that an install over an earlier
# one keeps the administrator's configuration, pages and ownerships.
#
# In: QOR_CONF_TEMPLATE (the example configuration), QOR_WEB_USER (the
# user the web server runs the workers and qorconfig as; may be empty).

set(root "${CMAKE_INSTALL_PREFIX}/qoric")
set(dest "$ENV{DESTDIR}${root}")

# The folders the workers and qorconfig write are given to the web server's
# user when the install runs as root and that user exists.
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
set(web_user "")
if(uid STREQUAL "0" AND QOR_WEB_USER)
  execute_process(COMMAND id -u "${QOR_WEB_USER}" RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
  if(missing EQUAL 0)
    set(web_user "${QOR_WEB_USER}")
  endif()
endif()

# qor_make(<path below root> <mode> [WEB]): a new folder with that mode;
# WEB: owned by the web server's user.
function(qor_make rel mode)
  set(path "${dest}/${rel}")
  if(EXISTS "${path}")
    message(STATUS "Up-to-date: ${path} (kept as it is)")
    return()
  endif()
  message(STATUS "Installing: ${path}")
  file(MAKE_DIRECTORY "${path}")
  execute_process(COMMAND chmod ${mode} "${path}")
  if(ARGN)
    qor_give("${path}")
  endif()
endfunction()

function(qor_give path)
  if(web_user)
    execute_process(COMMAND chown "${web_user}:" "${path}" RESULT_VARIABLE failed)
    if(NOT failed)
      return()
    endif()
  endif()
  set_property(GLOBAL APPEND_STRING PROPERTY qor_not_given " ${path}")
endfunction()

file(MAKE_DIRECTORY "${dest}")
qor_make(conf 750 WEB)            # qoric.conf; qorconfig saves here
qor_make(logs 750 WEB)            # the log, its log server's FIFO, .shmid
qor_make(cache 750 WEB)           # pages the gateway converts
qor_make(htx 755)                 # the administrator's page templates
qor_make(run 755)                 # the workers' working folder (keys the session table)
qor_make(run/latestmcsdata 700 WEB) # the sessions' screen data

# The web server starts a FastCGI program in the folder of its bin-path:
# these links make run/ the working folder of the workers and of qorconfig,
# which finds the workers' session table through that folder.
foreach(program qoric qorconfig)
  if(NOT IS_SYMLINK "${dest}/run/${program}" AND NOT EXISTS "${dest}/run/${program}")
    file(CREATE_LINK "../../bin/${program}" "${dest}/run/${program}" SYMBOLIC)
  endif()
endforeach()

# The example configuration with its folders under the root; the Locap
# names a host on this machine, which the administrator changes.
set(conf "${dest}/conf/qoric.conf")
if(EXISTS "${conf}")
  message(STATUS "Up-to-date: ${conf} (the configuration in place is kept)")
else()
  message(STATUS "Installing: ${conf}")
  file(READ "${QOR_CONF_TEMPLATE}" text)
  string(REPLACE "@ROOT@" "${root}" text "${text}")
  string(REPLACE "@HOSTPORT@" "7000" text "${text}")
  string(REPLACE "@EXTRA@\n" "" text "${text}")
  file(WRITE "${conf}" "${text}")
  execute_process(COMMAND chmod 640 "${conf}")
  qor_give("${conf}")
endif()

get_property(not_given GLOBAL PROPERTY qor_not_given)
if(not_given)
  message(STATUS "Give these to the user the web server runs qoric and qorconfig as "
                 "(chown USER:):${not_given}")
endif()
