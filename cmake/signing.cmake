# Authenticode signing of the shipped programs through scripts/sign.sh, when
# QV_SIGN_CERT names a certificate: the screen saver and the uninstaller in
# the staged payload, before anything reads or packs them (resources/), and
# the setup once it is linked (app/). Empty: nothing is signed.
set(QV_SIGN_CERT "" CACHE FILEPATH
    "Certificate that signs the shipped programs: a PKCS#12 file, or a PEM file with QV_SIGN_KEY")
set(QV_SIGN_KEY "" CACHE FILEPATH "PEM private key of a PEM certificate QV_SIGN_CERT")
set(QV_SIGN_PASS_FILE "" CACHE FILEPATH "File holding the password of the PKCS#12 file or key")
set(QV_SIGN_TIMESTAMP "" CACHE STRING "URL of an RFC 3161 time-stamp server")
set(QV_SIGN_TIME "" CACHE STRING "Signing time in Unix seconds (empty: the time of the build)")

# QV_SIGN_COMMAND: the command that signs the programs named after it;
# QV_SIGN_INPUTS: the files it reads, so that a new certificate signs again.
set(QV_SIGN_COMMAND)
set(QV_SIGN_INPUTS)
if(QV_SIGN_CERT)
    set(QV_SIGN_COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/sign.sh --cert ${QV_SIGN_CERT})
    set(QV_SIGN_INPUTS ${PROJECT_SOURCE_DIR}/scripts/sign.sh ${QV_SIGN_CERT})
    foreach(option KEY PASS_FILE)
        if(QV_SIGN_${option})
            string(TOLOWER ${option} flag)
            string(REPLACE "_" "-" flag ${flag})
            list(APPEND QV_SIGN_COMMAND --${flag} ${QV_SIGN_${option}})
            list(APPEND QV_SIGN_INPUTS ${QV_SIGN_${option}})
        endif()
    endforeach()
    if(QV_SIGN_TIMESTAMP)
        list(APPEND QV_SIGN_COMMAND --timestamp ${QV_SIGN_TIMESTAMP})
    endif()
    if(QV_SIGN_TIME)
        list(APPEND QV_SIGN_COMMAND --time ${QV_SIGN_TIME})
    endif()
endif()
