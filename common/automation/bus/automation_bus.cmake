# Build-tree D-Bus set-up for the automation servers.
#
# OSKARA_BUS_SERVICE_DIR  folder of the generated .service files
# OSKARA_BUS_CONFIG       dbus-daemon configuration of a private session bus
#                         whose <servicedir> is that folder
set(OSKARA_BUS_SERVICE_DIR "${CMAKE_BINARY_DIR}/dbus/services" CACHE INTERNAL "")
set(OSKARA_BUS_CONFIG "${CMAKE_BINARY_DIR}/dbus/private-bus.conf" CACHE INTERNAL "")
file(MAKE_DIRECTORY "${OSKARA_BUS_SERVICE_DIR}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/private-bus.conf.in" "${OSKARA_BUS_CONFIG}" @ONLY)

# oskara_add_bus_service(<target> <bus name>)
# Writes <bus name>.service so that the bus starts the program <target> when a
# client asks for <bus name>.
function(oskara_add_bus_service target bus_name)
  file(GENERATE OUTPUT "${OSKARA_BUS_SERVICE_DIR}/${bus_name}.service"
       CONTENT "[D-BUS Service]\nName=${bus_name}\nExec=$<TARGET_FILE:${target}>\n")
endfunction()

# oskara_install_bus_service(<target> <bus name>)
# Installs the program <target> in OSKARA_INSTALL_SERVERDIR and, in the
# session bus's service folder (share/dbus-1/services), a <bus name>.service
# that starts the installed program. The file is written at install time so
# that Exec= follows the prefix given to cmake --install (or the package's).
function(oskara_install_bus_service target bus_name)
  include(GNUInstallDirs)
  install(TARGETS ${target} RUNTIME DESTINATION ${OSKARA_INSTALL_SERVERDIR})
  set(dir "${CMAKE_INSTALL_DATADIR}/dbus-1/services")
  install(CODE "
    set(exec \"\${CMAKE_INSTALL_PREFIX}/${OSKARA_INSTALL_SERVERDIR}/$<TARGET_FILE_NAME:${target}>\")
    set(file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${dir}/${bus_name}.service\")
    message(STATUS \"Installing: \${file}\")
    file(WRITE \"\${file}\" \"[D-BUS Service]\\nName=${bus_name}\\nExec=\${exec}\\n\")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${file}\")
  ")
endfunction()
