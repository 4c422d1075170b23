// Header, server-variable and directory names shared by the whole module.
// Names ending in ":" are header names in the form the ISAPI header calls
// take; "sAMAccountName" is a directory attribute; the others are server
// variables or keys of the host's request information. Constant-initialised,
// so they exist before the first request.
#pragma once

namespace HeaderNames {
inline constexpr const char QUERY_STRING[] = "QUERY_STRING";
inline constexpr const char URL[] = "URL";
inline constexpr const char HTTP_URL[] = "HTTP_URL";
inline constexpr const char INSTANCE_ID[] = "INSTANCE_ID";
inline constexpr const char REMOTE_ADDR[] = "REMOTE_ADDR";
inline constexpr const char REMOTE_USER[] = "REMOTE_USER";
inline constexpr const char LOCAL_ADDR[] = "LOCAL_ADDR";
inline constexpr const char AUTH_TYPE[] = "AUTH_TYPE";
inline constexpr const char HTTP_USER_AGENT[] = "HTTP_USER_AGENT";
inline constexpr const char HTTPS[] = "HTTPS";
inline constexpr const char HTTP_HOST[] = "HTTP_HOST";
inline constexpr const char X_QLRequest[] = "X-QLRequest";
inline constexpr const char HTTP_METHOD[] = "HTTP_METHOD";
inline constexpr const char HTTP_VERSION[] = "HTTP_VERSION";
inline constexpr const char APP_POOL_ID[] = "APP_POOL_ID";
inline constexpr const char HTTP_ACCEPT_LANGUAGE[] = "HTTP_ACCEPT-LANGUAGE";
inline constexpr const char HTTP_Front_End_HTTPS[] = "HTTP_Front-End-HTTPS";
inline constexpr const char AUTH_USER[] = "AUTH_USER";
inline constexpr const char LOGON_USER[] = "LOGON_USER";
inline constexpr const char QL_User_Agent[] = "QL_User_Agent";
inline constexpr const char HTTP_X_Remote_Client_IP[] = "HTTP_X_Remote_Client_IP";
inline constexpr const char HTTP_X_Forwarded_For[] = "HTTP_X_Forwarded_For";
inline constexpr const char X_Remote_Client_IP[] = "X-Remote-Client-IP";
inline constexpr const char QL_CRITERIA_Header[] = "QL_CRITERIA:";
inline constexpr const char HTTP_X_OWA_EXPLICITLOGONUSER[] = "HTTP_X_OWA_EXPLICITLOGONUSER";
inline constexpr const char QL_USERNAME[] = "QL_USERNAME";
inline constexpr const char QL_USERSID[] = "QL_USERSID";
inline constexpr const char HTTP_X_QLTz[] = "HTTP_X_QLTz";
inline constexpr const char Transfer_Encoding_Header[] = "Transfer-Encoding:";
inline constexpr const char Location_Header[] = "Location:";
inline constexpr const char WWW_Authenticate_Header[] = "WWW-Authenticate:";
inline constexpr const char Content_Language_Header[] = "Content-Language:";
inline constexpr const char Content_Type_Header[] = "Content-Type:";
inline constexpr const char Content_Length_Header[] = "Content-Length:";
inline constexpr const char Set_Cookie_Header[] = "Set-Cookie:";
inline constexpr const char ALL_RAW[] = "ALL_RAW";
inline constexpr const char ALL_HTTP[] = "ALL_HTTP";
inline constexpr const char REMOTE_HOST[] = "REMOTE_HOST";
inline constexpr const char SERVER_PORT[] = "SERVER_PORT";
inline constexpr const char SERVER_PORT_SECURE[] = "SERVER_PORT_SECURE";
inline constexpr const char HTTP_Authorization[] = "HTTP_Authorization";
inline constexpr const char HTTP_COOKIE[] = "HTTP_COOKIE";
inline constexpr const char HTTP_REFERER[] = "HTTP_REFERER";
inline constexpr const char SERVER_PROTOCOL[] = "SERVER_PROTOCOL";
inline constexpr const char SERVER_NAME[] = "SERVER_NAME";
inline constexpr const char sAMAccountName[] = "sAMAccountName";
inline constexpr const char QLHTTP[] = "QLHTTP";
inline constexpr const char X_OWA_ProxySid[] = "X-OWA-ProxySid";
inline constexpr const char X_OWA_ProxySid_Header[] = "X-OWA-ProxySid:";
inline constexpr const char QL_CRITERIA[] = "QL_CRITERIA";
inline constexpr const char X_QLTz[] = "X-QLTz";
inline constexpr const char X_QLTz_Header[] = "X-QLTz:";
inline constexpr const char X_Remote_Client_IP_Header[] = "X-Remote-Client-IP:";
}  // namespace HeaderNames
