object Probe: TProbeForm
  Caption = 'Probe'
  Width = 300
  Height = 200
  object Button: TButton
    Left = 10
    Top = 20
    Width = 80
    Height = 30
    Caption = 'Press'
    TabOrder = 1
    OnClick = BarScroll
  end
  object Bar: TScrollBar
    Left = 10
    Top = 60
    Width = 200
    Height = 20
    TabOrder = 0
    OnScroll = BarScroll
  end
end
