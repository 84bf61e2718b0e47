# The Debian package, built by CPack from what `cmake --install` installs:
# scripts/package makes it (cpack --preset release). Its dependencies are
# computed from the installed programs and modules by dpkg-shlibdeps, never
# listed by hand. The presets that make packages (release, and ci for the
# package test) are configured for the prefix /usr, so that the modules go to
# /usr/lib/<multiarch>/orvento: for a folder right below /usr/lib CPack would
# add maintainer scripts that run ldconfig, which the modules do not need.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvento)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvento")
set(ORVENTO_PACKAGE_MAINTAINER "Orvento developers <orvento@orvento.invalid>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${ORVENTO_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "listen to live air-traffic-control radio")
# The synopsis line comes from the summary; this is the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvento plays the radio traffic between pilots and air-traffic controllers as
it happens: pick a station or type a stream address, and start and stop it
with one button, or with the keyboard's media keys. It counts the listening
time and shows the latest airport weather.
.
The package also holds orvento-play, which plays a stream from the command
line (also into nothing or into a WAV file, for machines without sound),
orvento-probe, which shows what the stream parser makes of a file or stream,
and orvento-weather, which decodes an airport's METAR and TAF reports.")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its Wayland platform plugin at run time; no binary links it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
