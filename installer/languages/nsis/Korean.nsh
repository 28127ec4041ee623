; Korean: the texts of NSIS' own that its Korean file lacks, read before it.
; The page that chooses everyone or one user.
!define MULTIUSER_TEXT_INSTALLMODE_TITLE "사용자 선택"
!define MULTIUSER_TEXT_INSTALLMODE_SUBTITLE "$(^NameDA)을(를) 설치할 사용자를 선택하세요."
!define MULTIUSER_INNERTEXT_INSTALLMODE_TOP "$(^NameDA)을(를) 나만 사용하도록 설치할지, 이 컴퓨터의 모든 사용자가 사용하도록 설치할지 선택하세요. $(^ClickNext)"
!define MULTIUSER_INNERTEXT_INSTALLMODE_ALLUSERS "이 컴퓨터를 사용하는 모든 사용자용으로 설치"
!define MULTIUSER_INNERTEXT_INSTALLMODE_CURRENTUSER "나만 사용하도록 설치"
