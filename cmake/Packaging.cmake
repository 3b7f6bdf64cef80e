# The Debian package, made by scripts/package.sh (cpack -G DEB). Its
# dependencies come from the binaries (dpkg-shlibdeps), not from a list here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenvis)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "The Quenvis developers <quenvis@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live spectrum, pitch, formants and vowel chart for voice work")
# CPack puts the summary first: the description is the text below it.
set(CPACK_PACKAGE_DESCRIPTION
  "Quenvis shows the live spectrum of the sound entering a capture device and
follows the voice in it: its pitch, as a frequency and as a note, and its
first two formants, drawn as a moving dot on a vowel chart among reference
vowels. Takes can be recorded and reviewed on the chart. It is made for
singing teachers, speech therapists and phonetics students.
.
quenvis-render runs the same analysis over recordings and writes images
and tables.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/quenvis/quenvis)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its Wayland platform plugin at run time, which no binary links.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
